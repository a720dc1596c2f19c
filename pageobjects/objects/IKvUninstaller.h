#pragma once
// The uninstaller's interfaces as C++ sees them: each extends the one before, slots 7-42 in the
// order of their type library (KvUnInstShim.idl), each method's dispatch id its slot number.

#include <oaidl.h>
#include <windows.h>

// {0BDFBF46-40D0-49D0-A603-44E104C41DB9}
inline constexpr IID IID_IKvUninstaller = {0x0BDFBF46, 0x40D0, 0x49D0, {0xA6, 0x03, 0x44, 0xE1, 0x04, 0xC4, 0x1D, 0xB9}};
// {8F7B9023-B256-42D1-9EF2-EF9700E1913E}
inline constexpr IID IID_IKvUninstaller2 = {0x8F7B9023, 0xB256, 0x42D1, {0x9E, 0xF2, 0xEF, 0x97, 0x00, 0xE1, 0x91, 0x3E}};
// {2E62AC6D-D6B5-4C56-BE79-847539CCD171}
inline constexpr IID IID_IKvUninstaller3 = {0x2E62AC6D, 0xD6B5, 0x4C56, {0xBE, 0x79, 0x84, 0x75, 0x39, 0xCC, 0xD1, 0x71}};
// {7D11DFBA-8935-40D9-A66B-DFFFEEFDCEA6}
inline constexpr IID IID_IKvUninstaller4 = {0x7D11DFBA, 0x8935, 0x40D9, {0xA6, 0x6B, 0xDF, 0xFF, 0xEE, 0xFD, 0xCE, 0xA6}};
// {48AE31CB-F62A-467D-BB5C-0B798D1FD408}
inline constexpr IID IID_IKvUninstaller5 = {0x48AE31CB, 0xF62A, 0x467D, {0xBB, 0x5C, 0x0B, 0x79, 0x8D, 0x1F, 0xD4, 0x08}};

struct IKvUninstaller : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Method07(VARIANT first, VARIANT second) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE Method08(VARIANT first, VARIANT second) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE Method09(VARIANT argument, VARIANT* value) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE GetSimulateString(VARIANT first, VARIANT second, VARIANT* simulate) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE Method11(VARIANT first, VARIANT second) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE Method12(VARIANT first, VARIANT second) = 0;  // 12
    virtual HRESULT STDMETHODCALLTYPE Method13(VARIANT first, VARIANT second) = 0;  // 13
    virtual HRESULT STDMETHODCALLTYPE Method14(VARIANT first, VARIANT second) = 0;  // 14
    virtual HRESULT STDMETHODCALLTYPE Method15(VARIANT first, VARIANT second) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE Method16(VARIANT first, VARIANT second) = 0;  // 16
    virtual HRESULT STDMETHODCALLTYPE Method17(VARIANT first, VARIANT second) = 0;  // 17
    virtual HRESULT STDMETHODCALLTYPE GetSurveyData(VARIANT* data) = 0;  // 18
    virtual HRESULT STDMETHODCALLTYPE Method19(VARIANT first, VARIANT second) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE Method20(VARIANT first, VARIANT second) = 0;  // 20
    virtual HRESULT STDMETHODCALLTYPE Method21(VARIANT first, VARIANT second) = 0;  // 21
    virtual HRESULT STDMETHODCALLTYPE Method22(VARIANT first, VARIANT second) = 0;  // 22
};

struct IKvUninstaller2 : public IKvUninstaller {
    virtual HRESULT STDMETHODCALLTYPE Method23(VARIANT first, VARIANT second) = 0;  // 23
    virtual HRESULT STDMETHODCALLTYPE Method24(VARIANT first, VARIANT second) = 0;  // 24
    virtual HRESULT STDMETHODCALLTYPE Method25(VARIANT first, VARIANT second) = 0;  // 25
    virtual HRESULT STDMETHODCALLTYPE Method26(VARIANT first, VARIANT second) = 0;  // 26
    virtual HRESULT STDMETHODCALLTYPE Method27(VARIANT first, VARIANT second) = 0;  // 27
    virtual HRESULT STDMETHODCALLTYPE Method28(VARIANT first, VARIANT second) = 0;  // 28
};

struct IKvUninstaller3 : public IKvUninstaller2 {
    virtual HRESULT STDMETHODCALLTYPE Method29(VARIANT first, VARIANT second) = 0;  // 29
    virtual HRESULT STDMETHODCALLTYPE Method30(VARIANT first, VARIANT second) = 0;  // 30
    virtual HRESULT STDMETHODCALLTYPE Method31(VARIANT first, VARIANT second) = 0;  // 31
    virtual HRESULT STDMETHODCALLTYPE Method32(VARIANT first, VARIANT second) = 0;  // 32
    virtual HRESULT STDMETHODCALLTYPE Method33(VARIANT first, VARIANT second) = 0;  // 33
    virtual HRESULT STDMETHODCALLTYPE Method34(VARIANT first, VARIANT second) = 0;  // 34
};

struct IKvUninstaller4 : public IKvUninstaller3 {
    virtual HRESULT STDMETHODCALLTYPE Method35(VARIANT first, VARIANT second) = 0;  // 35
    virtual HRESULT STDMETHODCALLTYPE Method36(VARIANT first, VARIANT second) = 0;  // 36
    virtual HRESULT STDMETHODCALLTYPE Method37(VARIANT first, VARIANT second) = 0;  // 37
    virtual HRESULT STDMETHODCALLTYPE Method38(VARIANT first, VARIANT second) = 0;  // 38
};

struct IKvUninstaller5 : public IKvUninstaller4 {
    virtual HRESULT STDMETHODCALLTYPE Method39(VARIANT first, VARIANT second) = 0;  // 39
    virtual HRESULT STDMETHODCALLTYPE GetLaunchData(VARIANT* data) = 0;  // 40
    virtual HRESULT STDMETHODCALLTYPE Method41(VARIANT first, VARIANT second) = 0;  // 41
    virtual HRESULT STDMETHODCALLTYPE Method42() = 0;  // 42
};
