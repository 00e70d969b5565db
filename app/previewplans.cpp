#include "previewplans.h"

using namespace torvale;

const QString kNoSearchText = QStringLiteral("查找字符串是空的，不会改动任何文件：请先填写要查找的文字。");

namespace {

// The first hits in the first files that would change, with the text around
// them, so that the person sees what an expression (or a search without
// regard to case) takes before it runs.
std::shared_ptr<const FileHits> sample_hits(const ReplacePlan &plan)
{
    constexpr int kFiles = 200, kHits = 3, kContext = 10;
    QString error;
    const std::optional<Pattern> pattern = plan.ok() && (plan.options.regex || plan.options.ignoreCase)
                                               ? Pattern::make(plan.find, plan.replace, plan.options, &error)
                                               : std::nullopt;
    if (!pattern)
        return nullptr;
    auto hits = std::make_shared<FileHits>();
    for (qint32 i = 0; i < qint32(plan.files.size()) && hits->size() < kFiles; ++i) {
        if (plan.occurrences[size_t(i)] > 0 && !plan.skipReasons.contains(i))
            hits->insert(i, first_hits(*plan.folder, plan.files[size_t(i)], *pattern, kHits, kContext));
    }
    return hits;
}

} // namespace

void PreviewPlans::make(Operation operation, const QSet<QByteArray> &leftOut, const Progress &progress)
{
    switch (operation) {
    case Operation::Rename: {
        RenameParams params = renaming;
        params.filter.set_left_out(leftOut);
        rename = std::make_shared<const RenamePlan>(plan_rename(params));
        break;
    }
    case Operation::Convert: {
        ConvertParams params = converting;
        params.filter.set_left_out(leftOut);
        convert = std::make_shared<const ConvertPlan>(plan_convert(params, true, progress));
        break;
    }
    case Operation::Replace: {
        ReplaceParams params = replacing;
        params.filter.set_left_out(leftOut);
        replace = std::make_shared<const ReplacePlan>(plan_replace(params, true, progress));
        hits = sample_hits(*replace);
        break;
    }
    case Operation::Undo:
        break;
    }
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
