#pragma once
// Reaching the suite's surrogate process: the helper's class object, its loader and the
// IKvSurrogate that creates objects inside that process. Shared by the platform dispatch object
// and the uninstaller shim.

#include "pageobjects/objects/KvSurrogateInterfaces.h"

enum class SurrogateStep { CreateHelper, LoadSurrogate, QuerySurrogate };

// Creates the helper (local server; checked: its class object's module must be trusted, else
// unchecked), loads the surrogate for this process and returns its IKvSurrogate. On failure
// *surrogate is null and *failedStep names the step that failed.
[[nodiscard]] HRESULT ConnectToSurrogate(bool checked, IKvSurrogate** surrogate, SurrogateStep* failedStep) noexcept;

// IKvSurrogate::CreateObject, then a query for iid on what came back: across processes the
// object arrives marshaled as IUnknown only. *object is null on failure.
[[nodiscard]] HRESULT CreateInSurrogate(IKvSurrogate* surrogate, REFCLSID clsid, REFIID iid, void** object) noexcept;
