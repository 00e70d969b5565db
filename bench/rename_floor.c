/* The floor for the rename benchmark: one rename() per file in sorted order,
 * nothing else. Usage: rename_floor DIR */
#include <ctype.h>
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int by_name(const void *a, const void *b)
{
    return strcmp(*(char *const *)a, *(char *const *)b);
}

int main(int argc, char **argv)
{
    if (argc != 2 || chdir(argv[1]) != 0)
        return 2;
    DIR *dir = opendir(".");
    if (!dir)
        return 2;
    size_t count = 0, capacity = 1024;
    char **names = malloc(capacity * sizeof *names);
    struct dirent *entry;
    while ((entry = readdir(dir))) {
        if (entry->d_name[0] == '.')
            continue;
        if (count == capacity)
            names = realloc(names, (capacity *= 2) * sizeof *names);
        names[count++] = strdup(entry->d_name);
    }
    closedir(dir);
    qsort(names, count, sizeof *names, by_name);
    char target[512];
    for (size_t i = 0; i < count; ++i) {
        const char *dot = strchr(names[i], '.');
        int n = snprintf(target, sizeof target, "p%06zu.%s", i + 1, dot ? dot + 1 : names[i]);
        for (int k = n - 1; k >= 0 && target[k] != '.'; --k)
            target[k] = (char)tolower((unsigned char)target[k]);
        if (rename(names[i], target) != 0)
            return 1;
    }
    return 0;
}
