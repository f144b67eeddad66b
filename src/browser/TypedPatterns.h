// The file-name patterns that make a dropped file a candidate for a typed operation (firmware, program,
// display list), as the device gave them after the last connection. Filled by whoever receives the
// device's answers, read by the drop.
#pragma once
#include "paramblock/ParamBlock.h"
#include <list>
#include <string>

class CTypedPatterns {
public:
    // Every connection starts afresh: a reconnection must not add to the last device's.
    void Clear();
    // The answer to one of the three pattern requests; false for any other request.
    bool Add(long request, CParamBlock& answer);

    const std::list<std::string>& Firmware() const { return m_firmware; }
    const std::list<std::string>& Program() const { return m_program; }
    const std::list<std::string>& DisplayList() const { return m_displayList; }

private:
    std::list<std::string> m_firmware;
    std::list<std::string> m_program;
    std::list<std::string> m_displayList;
};

// True when the file name of `path` (its first 259 characters, the part after the last separator)
// matches one of `patterns` by the shell's wildcard rules; false for an empty list.
bool MatchesPattern(const std::list<std::string>& patterns, const std::string& path);
