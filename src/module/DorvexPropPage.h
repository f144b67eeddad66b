// The control's one property page; it exchanges no properties.
#pragma once
#include "framework/PropertyPage.h"

class CDorvexPropPage : public CPropertyPageBase {
public:
    static HRESULT CreateInstance(REFIID iid, void** out);
    static bool UpdateRegistry(bool registering);
    CDorvexPropPage();
};
