// What one transfer batch came to, told once when it ends instead of a box per failed file: how far it
// got, and each file that failed or was left out while the batch was built, with the reason. Portable.
#pragma once
#include <cstddef>
#include <list>
#include <string>
#include <utility>
#include <vector>

class CBatchSummary {
public:
    // How the batch ended: every item ran, the user cancelled, or the session refused the next item.
    enum class Ending { Finished, Cancelled, Refused };
    static constexpr size_t kMaxLines = 20;

    void Succeeded() { ++m_done; }
    // A failed item and the session's reason; only the first kMaxLines are kept, the rest counted.
    void Failed(const std::string& item, const std::string& reason);
    // Set when the first failure was already shown on its own: then a batch whose only news it was ends
    // without a summary.
    void MarkErrorShown() { m_errorShown = true; }
    bool ErrorShown() const { return m_errorShown; }
    size_t Done() const { return m_done; }
    size_t FailedCount() const { return m_failed; }

    // Whether the batch's end has anything to tell beyond what was already shown. `skipped` are the
    // entries left out while the list was built.
    bool WorthShowing(Ending ending, size_t skipped) const;
    // The text: the headline, then one line per failed and per left-out entry, at most kMaxLines of
    // them, then "and N more". `items` is the number of items the batch had.
    std::string Text(Ending ending, size_t items,
                     const std::list<std::pair<std::string, std::string>>& skipped) const;

private:
    size_t m_done = 0;
    size_t m_failed = 0;
    bool m_errorShown = false;
    std::vector<std::pair<std::string, std::string>> m_lines;
};
