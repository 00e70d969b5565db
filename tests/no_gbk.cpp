// Stands in for ICU's converter lookup and finds no converter, as a Qt built
// without ICU would: the programs must notice that GBK is missing. ICU's
// symbols carry its version, so every recent one is covered.
#define NO_CONVERTER(version)                                                                                \
    extern "C" void *ucnv_open_##version(const char *name, int *status)                                      \
    {                                                                                                        \
        (void)name;                                                                                          \
        *status = 4; /* U_FILE_ACCESS_ERROR */                                                               \
        return 0;                                                                                            \
    }
NO_CONVERTER(66)
NO_CONVERTER(67)
NO_CONVERTER(68)
NO_CONVERTER(69)
NO_CONVERTER(70)
NO_CONVERTER(71)
NO_CONVERTER(72) NO_CONVERTER(73) NO_CONVERTER(74) NO_CONVERTER(75) NO_CONVERTER(76) NO_CONVERTER(77)
