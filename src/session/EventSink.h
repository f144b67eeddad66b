// What the session object's event sink needs besides the session object itself: the process-wide type
// information of the session's event interface, which declarations a handler can take, and the handler
// parameter types. The arguments themselves are bound as the control's own dispatch binds them
// (BindArgument), except that what only a converted copy could carry is refused.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <vector>

// The parameter types of one event, in declaration order; by-reference parameters carry VT_BYREF.
using EventParamTypes = std::vector<VARTYPE>;

// Type information of the event interface, loaded from the host's registered type library. Shared by all
// session objects of the process: the first one to arrive loads it, the last one to leave releases it.
class CEventTypeCache {
public:
    static void AddUser(const GUID& libId, WORD major, WORD minor, const IID& events);
    static void RemoveUser();
    static LONG Users();
    static bool Loaded();
    // The parameter types of event `id`; false when the type information is absent or does not describe
    // that event in types the sink can take.
    static bool Lookup(DISPID id, EventParamTypes& types);
};

// Whether an event parameter that the host's type library declares as `declared` can reach a handler
// parameter of type `wanted`: numbers and booleans convert into each other, a text stays a text (by value
// or by reference), and what the handler takes by reference must be declared by reference as exactly that
// type or as a VARIANT. A VARIANT may hold anything; its value decides when the event arrives.
bool DeclarationFits(VARTYPE declared, VARTYPE wanted);

// The handler parameter types the sink can deliver, and how a converted argument is read.
template <class T> struct SinkArg;
template <> struct SinkArg<long> {
    static constexpr VARTYPE type = VT_I4;
    static long Get(const VARIANT& v) { return v.lVal; }
};
template <> struct SinkArg<short> {
    static constexpr VARTYPE type = VT_I2;
    static short Get(const VARIANT& v) { return v.iVal; }
};
template <> struct SinkArg<bool> {
    static constexpr VARTYPE type = VT_BOOL;
    static bool Get(const VARIANT& v) { return v.boolVal != VARIANT_FALSE; }
};
template <> struct SinkArg<BYTE> {
    static constexpr VARTYPE type = VT_UI1;
    static BYTE Get(const VARIANT& v) { return v.bVal; }
};
template <> struct SinkArg<BSTR> {
    static constexpr VARTYPE type = VT_BSTR;
    static BSTR Get(const VARIANT& v) { return v.bstrVal; }
};
template <> struct SinkArg<BSTR*> {
    static constexpr VARTYPE type = VT_BYREF | VT_BSTR;
    static BSTR* Get(const VARIANT& v) { return v.pbstrVal; }
};
template <> struct SinkArg<SAFEARRAY**> {
    static constexpr VARTYPE type = VT_BYREF | VT_ARRAY | VT_UI1;
    static SAFEARRAY** Get(const VARIANT& v) { return v.pparray; }
};
#ifdef _WIN64
// Pointer-sized user data; in a 32-bit build LONG_PTR is long and takes the VT_I4 entry.
template <> struct SinkArg<LONG_PTR> {
    static constexpr VARTYPE type = VT_I8;
    static LONG_PTR Get(const VARIANT& v) { return v.llVal; }
};
#endif
