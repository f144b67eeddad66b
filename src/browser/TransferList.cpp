#include "browser/TransferList.h"
#include <shlwapi.h>

CTransferList::~CTransferList() {
    if (drop)
        DragFinish(drop);
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
