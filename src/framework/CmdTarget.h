#pragma once
// Message maps: static tables that route window messages and commands to member functions,
// each table chained to its base class's table.

#include <windows.h>

class CCmdTarget;
using AFX_PMSG = void (CCmdTarget::*)();

struct AFX_MSGMAP_ENTRY {
    UINT nMessage; // window message
    UINT nCode;    // notification code, for WM_COMMAND
    UINT nID;      // control or command identifier, for WM_COMMAND
    AFX_PMSG pfn;  // handler; nullptr ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* pBaseMap;
    const AFX_MSGMAP_ENTRY* lpEntries;
};

class CCmdTarget {
  public:
    virtual ~CCmdTarget() = default;

    virtual const AFX_MSGMAP* GetMessageMap() const { return GetThisMessageMap(); }
    static const AFX_MSGMAP* GetThisMessageMap();

    // Runs the first handler of this object's map chain for the message; false when none.
    bool DispatchToMessageMap(UINT message, WPARAM wParam);

    // The application's hourglass cursor, shown from Begin to End.
    void BeginWaitCursor();
    void EndWaitCursor();
};

#define DECLARE_MESSAGE_MAP()                                                                      \
  public:                                                                                          \
    static const AFX_MSGMAP* GetThisMessageMap();                                                  \
    const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                     \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                                            \
        return GetThisMessageMap();                                                                \
    }                                                                                              \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                              \
        using ThisClass = theClass;                                                                \
        using TheBaseClass = baseClass;                                                            \
        static_assert(sizeof(ThisClass) > 0);                                                      \
        static const AFX_MSGMAP_ENTRY entries[] = {

#define END_MESSAGE_MAP()                                                                          \
    { 0, 0, 0, nullptr }                                                                           \
    }                                                                                              \
    ;                                                                                              \
    static const AFX_MSGMAP messageMap = {TheBaseClass::GetThisMessageMap(), entries};             \
    return &messageMap;                                                                            \
    }

#define ON_COMMAND(id, memberFxn)                                                                  \
    {WM_COMMAND, 0, static_cast<UINT>(id), static_cast<AFX_PMSG>(memberFxn)},
#define ON_BN_CLICKED(id, memberFxn)                                                               \
    {WM_COMMAND, BN_CLICKED, static_cast<UINT>(id), static_cast<AFX_PMSG>(memberFxn)},
#define ON_CBN_SELCHANGE(id, memberFxn)                                                            \
    {WM_COMMAND, CBN_SELCHANGE, static_cast<UINT>(id), static_cast<AFX_PMSG>(memberFxn)},
#define ON_WM_CLOSE() {WM_CLOSE, 0, 0, static_cast<AFX_PMSG>(&ThisClass::OnClose)},
