// A dialog built from a template in the module's resources: the object owns
// the window handle and receives the messages it cares about through named
// virtual handlers. Derived dialogs override only what they handle.
#pragma once

#include <windows.h>

#include <string>

class Dialog {
public:
    explicit Dialog(UINT templateId);
    // Destroys a window that still exists (without calling back into a
    // derived class, which is gone by then).
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the window modeless and hidden. Without an owner the calling
    // thread's active window, if any, becomes the owner.
    bool Create(HWND owner = nullptr);
    // Runs the dialog modally and returns its end code, or -1 when the
    // window could not be created. Without an owner the calling thread's
    // active window is taken. The owner, and the top-level window that owns
    // it, are disabled while the dialog runs. The dialog is centred on its
    // owner, or on the screen's work area when the owner is hidden.
    INT_PTR DoModal(HWND owner = nullptr);
    bool DestroyWindow();
    // Ends a modal dialog with `code`; allowed during OnInitDialog too. The
    // dialog is hidden, its owners enabled and the top-level owner made
    // active before the dialog manager destroys the window.
    void EndDialog(INT_PTR code);

    HWND GetHwnd() const { return window; }
    // True when the window exists and belongs to the calling thread.
    bool IsOwnWindow() const;

    bool SetItemText(int controlId, const char* utf8Text);
    bool SetItemText(int controlId, const std::wstring& text);
    // One OK button and the warning icon, owned by this dialog, captioned
    // with the application's title. Returns when the user has dismissed it.
    int ShowWarning(const char* utf8Text);

protected:
    // The message table: each handler answers one message.
    virtual BOOL OnInitDialog();             // WM_INITDIALOG
    virtual void OnOK();                     // WM_COMMAND IDOK: ends with 1
    virtual void OnCancel();                 // WM_COMMAND IDCANCEL: ends with 2
    virtual void OnClose();                  // WM_CLOSE: same as cancel
    virtual void OnDestroy();                // WM_DESTROY: nothing
    virtual void OnTimer(UINT_PTR timerId);  // WM_TIMER: nothing
    // Any other message: true when handled, false for the dialog manager.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void HandBackActivation();
    INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    void CentreOnOwnerOrWorkArea();

    UINT templateId;
    HWND window = nullptr;
    bool modal = false;
    HWND modalTopOwner = nullptr;   // while modal: the window that owns the owner
    bool topOwnerDisabled = false;  // while modal: disabled by DoModal, not yet enabled again
};
