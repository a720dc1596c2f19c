#pragma once
// The objects of the surrogate stand-in: the helper and its loader (IKvSurrogate), the provider
// classes and the real uninstaller. The stand-in program serves them from another process; unit
// tests register the same class objects in their own process.
//
// Every call is recorded as one line "<process id> <text>" appended to the file named by the
// environment variable ORDWELL_SURROGATE_LOG, else "<program path>.log". The uninstaller records
// what each of its slots was given too ("arguments <method> <first> <second>").

#include <unknwn.h>
#include <windows.h>

// Creates the stand-in object of clsid (helper, providers, session provider, uninstaller) and
// returns its iid. REGDB_E_CLASSNOTREG for other classes.
[[nodiscard]] HRESULT CreateStandInObject(REFCLSID clsid, REFIID iid, void** object) noexcept;

// A class object for clsid answering IClassFactory and both checked-creation interfaces; one
// reference.
[[nodiscard]] HRESULT CreateStandInClassObject(REFCLSID clsid, IUnknown** classObject) noexcept;

// Live stand-in objects (class objects not counted), IClassFactory::LockServer locks, and the
// objects made since the process started. The callback is called when objects and locks both
// fall back to zero, on the thread whose release or unlock did it.
[[nodiscard]] LONG StandInObjectCount() noexcept;
[[nodiscard]] LONG StandInLockCount() noexcept;
[[nodiscard]] LONG StandInObjectsMade() noexcept;
void SetStandInLastObjectGone(void (*callback)()) noexcept;

// The objects a client made through the helper (the helper itself once LoadSurrogate named the
// client's process, the loader and everything the loader created) belong to that client. When its
// process has ended, its objects are disconnected (CoDisconnectObject), which drops the references
// the platform held for it; "client <process id> ended" is recorded. Call on the thread of the
// objects' apartment. Returns how many clients were found ended.
LONG DisconnectEndedStandInClients() noexcept;

void RecordStandInCall(const wchar_t* text) noexcept;
