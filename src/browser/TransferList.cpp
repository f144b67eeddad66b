#include "browser/TransferList.h"

CTransferList::~CTransferList() {
    if (drop)
        DragFinish(drop);
}
