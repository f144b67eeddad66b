#include "browser/TypedPatterns.h"
#include "contracts/RequestCodes.h"
#include <windows.h>
#include <shlwapi.h>

void CTypedPatterns::Clear() {
    m_firmware.clear();
    m_program.clear();
    m_displayList.clear();
}

bool CTypedPatterns::Add(long request, CParamBlock& answer) {
    switch (request) {
    case REQ_FIRMWARE_SPECS:
        // Every element of the firmware answer is a pattern; of the other two, only the first.
        for (size_t i = 0; i < answer.Count(); ++i)
            m_firmware.push_back(answer.At(i).GetText());
        return true;
    case REQ_PROGRAM_SPEC:
        m_program.push_back(answer.At(0).GetText());
        return true;
    case REQ_DISPLAY_LIST_SPEC:
        m_displayList.push_back(answer.At(0).GetText());
        return true;
    default:
        return false;
    }
}

bool MatchesPattern(const std::list<std::string>& patterns, const std::string& path) {
    char name[MAX_PATH] = "";
    lstrcpynA(name, path.c_str(), MAX_PATH); // at most 259 characters and the NUL
    PathStripPathA(name);
    for (const std::string& pattern : patterns)
        if (PathMatchSpecA(name, pattern.c_str()))
            return true;
    return false;
}
