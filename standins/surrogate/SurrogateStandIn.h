#pragma once
// The objects of the surrogate stand-in: the helper and its loader (IKvSurrogate), the provider
// classes and the real uninstaller. The stand-in program serves them from another process; unit
// tests register the same class objects in their own process.
//
// Every call is recorded as one line "<process id> <text>" appended to the file named by the
// environment variable ORDWELL_SURROGATE_LOG, else "<program path>.log".

#include <unknwn.h>
#include <windows.h>

// Creates the stand-in object of clsid (helper, providers, session provider, uninstaller) and
// returns its iid. REGDB_E_CLASSNOTREG for other classes.
[[nodiscard]] HRESULT CreateStandInObject(REFCLSID clsid, REFIID iid, void** object) noexcept;

// A class object for clsid answering IClassFactory and both checked-creation interfaces; one
// reference.
[[nodiscard]] HRESULT CreateStandInClassObject(REFCLSID clsid, IUnknown** classObject) noexcept;

// Live stand-in objects (class objects not counted); called with the thread that made the
// first object when the count falls back to zero.
[[nodiscard]] LONG StandInObjectCount() noexcept;
void SetStandInLastObjectGone(void (*callback)()) noexcept;

void RecordStandInCall(const wchar_t* text) noexcept;
