#include "module/DorvexPropPage.h"
#include "framework/ClassFactory.h"
#include "module/DorvexIds.h"
#include "module/resource.h"

// {64951383-E244-487E-86EA-EB6B5A5AC732}
const CLSID CLSID_DorvexPropPage = {0x64951383, 0xe244, 0x487e, {0x86, 0xea, 0xeb, 0x6b, 0x5a, 0x5a, 0xc7, 0x32}};

namespace {
const CPropertyPageInfo kPageInfo = {IDD_PROPPAGE_DORVEX, IDS_DORVEX_PPG_CAPTION, "Names to appear in the control",
                                     "DORVEX.HLP", 0};
}

CDorvexPropPage::CDorvexPropPage() : CPropertyPageBase(kPageInfo) {}

HRESULT CDorvexPropPage::CreateInstance(REFIID iid, void** out) {
    auto* page = new CDorvexPropPage();
    HRESULT hr = page->QueryInterface(iid, out);
    page->Release();
    return hr;
}

bool CDorvexPropPage::UpdateRegistry(bool registering) {
    return registering ? RegisterPropertyPageClass(CLSID_DorvexPropPage, kPropPageProgId, IDS_DORVEX_PPG)
                       : UnregisterClassKeys(CLSID_DorvexPropPage, kPropPageProgId);
}
