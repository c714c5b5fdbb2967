// The custom-action frame that the install and uninstall custom actions share.
#pragma once

#include "winapi.h"

// Switches WOW64 file-system redirection off for the calling thread, and back on when the
// guard leaves scope, so that no path returns with redirection left off. Both functions are
// bound by name in kernel32.dll on every use, since older Windows versions lack them.
class RedirectionGuard {
public:
    RedirectionGuard() : disabled_(FALSE), oldValue_(nullptr) {}
    ~RedirectionGuard() { Revert(); }
    RedirectionGuard(const RedirectionGuard&) = delete;
    RedirectionGuard& operator=(const RedirectionGuard&) = delete;

    void Disable();

private:
    void Revert();

    BOOL disabled_;  // what the disable call returned; 0 when it was not made
    PVOID oldValue_;
};

// Forms the DriverFolder, switches redirection off on 64-bit Windows and logs the frame's
// line; redirection comes back when the frame leaves scope.
class CustomActionFrame {
public:
    CustomActionFrame();

    const WCHAR* DriverFolder() const { return driverFolder_; }

private:
    WCHAR driverFolder_[MAX_PATH];
    RedirectionGuard redirection_;
};
