#include "session/BatchSummary.h"

namespace {

// Reasons and names come from the device and the file system: one line each, of a length a box can
// show.
constexpr size_t kMaxPart = 300;

std::string OneLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        if (control) {
            if (!line.empty() && line.back() != ' ')
                line += ' ';
        } else {
            line += c;
        }
        if (line.size() >= kMaxPart) {
            line += "...";
            break;
        }
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line;
}

std::string Files(size_t n) {
    return std::to_string(n) + (n == 1 ? " file" : " files");
}

} // namespace

void CBatchSummary::Failed(const std::string& item, const std::string& reason) {
    ++m_failed;
    if (m_lines.size() < kMaxLines)
        m_lines.emplace_back(item, reason);
}

bool CBatchSummary::WorthShowing(Ending ending, size_t skipped) const {
    const size_t lines = m_failed + skipped;
    switch (ending) {
    case Ending::Cancelled:
        return true;
    case Ending::Refused:
        // The refusal itself was shown; the summary only when something else happened.
        return m_done > 0 || lines > 0;
    case Ending::Finished:
    default:
        return lines > (m_errorShown ? 1u : 0u);
    }
}

std::string CBatchSummary::Text(Ending ending, size_t items,
                                const std::list<std::pair<std::string, std::string>>& skipped) const {
    const size_t ran = m_done + m_failed;
    const size_t left = items > ran ? items - ran : 0;
    std::string text;
    switch (ending) {
    case Ending::Cancelled:
        text = "The transfer was cancelled after " + std::to_string(m_done) + " of " + Files(items) + "; " +
               std::to_string(left) + (left == 1 ? " was" : " were") + " left.";
        break;
    case Ending::Refused:
        text = "The transfer stopped after " + std::to_string(m_done) + " of " + Files(items) + "; " +
               std::to_string(left) + (left == 1 ? " was" : " were") + " left.";
        break;
    case Ending::Finished:
    default:
        text = std::to_string(m_done) + " of " + Files(items) + (items == 1 ? " was" : " were") +
               " transferred.";
        break;
    }
    const size_t total = m_failed + skipped.size();
    if (total == 0)
        return text;
    text += "\n\nNot transferred:";
    size_t shown = 0;
    const auto add = [&](const std::pair<std::string, std::string>& line) {
        if (shown == kMaxLines)
            return;
        text += "\n" + OneLine(line.first) + ": " + OneLine(line.second);
        ++shown;
    };
    for (const auto& line : m_lines)
        add(line);
    for (const auto& line : skipped)
        add(line);
    if (total > shown)
        text += "\nand " + std::to_string(total - shown) + " more";
    return text;
}
