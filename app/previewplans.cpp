#include "previewplans.h"

using namespace torvale;

const QString kNoSearchText = QStringLiteral("查找字符串是空的，不会改动任何文件：请先填写要查找的文字。");

namespace {

// The first hits in the first files that would change, with the text around
// them, so that the person sees what an expression (or a search without
// regard to case) takes before it runs.
std::shared_ptr<const FileHits> sample_hits(const ReplacePlan &plan, const StopRequest *stop)
{
    constexpr int kFiles = 200, kHits = 3, kContext = 10;
    QString error;
    const std::optional<Pattern> pattern = plan.ok() && (plan.options.regex || plan.options.ignoreCase)
                                               ? Pattern::make(plan.find, plan.replace, plan.options, &error)
                                               : std::nullopt;
    if (!pattern)
        return nullptr;
    auto hits = std::make_shared<FileHits>();
    for (qint32 i = 0; i < qint32(plan.files.size()) && hits->size() < kFiles && !(stop && stop->load());
         ++i) {
        if (plan.occurrences[size_t(i)] > 0 && !plan.skipReasons.contains(i))
            hits->insert(i, first_hits(*plan.folder, plan.files[size_t(i)], *pattern, kHits, kContext));
    }
    return hits;
}

template <typename Files, typename NameOf> QSet<QByteArray> names_of(const Files &files, const NameOf &nameOf)
{
    QSet<QByteArray> names;
    names.reserve(qsizetype(files.size()));
    for (const auto &file : files)
        names.insert(nameOf(file).bytes);
    return names;
}

} // namespace

QSet<QByteArray> PreviewPlans::make(Operation operation, const QSet<QByteArray> &leftOut,
                                    const Progress &progress, const StopRequest *stop)
{
    const auto shown = seen.find(operation);
    QSet<QByteArray> unseen;
    // Files keep coming while the plan is made: it is made again until it
    // takes none that was not shown (each round leaves out more).
    for (;;) {
        QSet<QByteArray> taken;
        switch (operation) {
        case Operation::Rename: {
            RenameParams params = renaming;
            params.filter.set_left_out(leftOut + unseen);
            rename = std::make_shared<const RenamePlan>(plan_rename(params));
            taken = names_of(rename->sources, [](const Entry &e) { return e.name; });
            break;
        }
        case Operation::Convert: {
            ConvertParams params = converting;
            params.filter.set_left_out(leftOut + unseen);
            convert = std::make_shared<const ConvertPlan>(plan_convert(params, true, progress, stop));
            taken = names_of(convert->items, [](const ConvertItem &i) { return i.source.name; });
            break;
        }
        case Operation::Replace: {
            ReplaceParams params = replacing;
            params.filter.set_left_out(leftOut + unseen);
            replace = std::make_shared<const ReplacePlan>(plan_replace(params, true, progress, stop));
            // Only a file with a row was seen: one without a hit then, with one now, was not.
            for (size_t i = 0; i < replace->files.size(); ++i) {
                if (replace->occurrences[i] != 0 || replace->skipReasons.contains(qint32(i)))
                    taken.insert(replace->files[i].name.bytes);
            }
            break;
        }
        case Operation::Undo:
            return {};
        }
        if (shown == seen.end()) { // the first plan: all it takes is shown
            seen[operation] = taken;
            break;
        }
        const qsizetype before = unseen.size();
        unseen += taken - shown->second;
        if (unseen.size() == before || (stop && stop->load()))
            break;
    }
    if (operation == Operation::Replace)
        hits = sample_hits(*replace, stop);
    if (shown != seen.end())
        shown->second += unseen; // shown now, left out
    return unseen;
}

PlanTable PreviewPlans::table(Operation operation) const
{
    switch (operation) {
    case Operation::Rename:
        return describe_plan(*rename);
    case Operation::Convert:
        return describe_plan(*convert);
    case Operation::Replace:
        if (replace)
            return describe_plan(*replace, hits);
        break;
    case Operation::Undo:
        break;
    }
    PlanTable refusal;
    refusal.operation = Operation::Replace;
    refusal.statement = kNoSearchText;
    return refusal;
}
