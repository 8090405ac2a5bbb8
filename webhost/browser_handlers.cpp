#include "webhost/browser_handlers.h"

#include "base/debug_trace.h"
#include "webhost/browser_host.h"

#include <new>

template <typename Interface, typename First, typename Second>
BrowserHandler<Interface, First, Second>::BrowserHandler(const IID& ownIid, Method method)
    : ownIid_(ownIid), method_(method), generation_(BrowserHost::Instance().generation()) {}

template <typename Interface, typename First, typename Second>
HRESULT STDMETHODCALLTYPE BrowserHandler<Interface, First, Second>::QueryInterface(REFIID iid,
                                                                                   void** object) {
    if (!object) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, ownIid_)) {
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

template <typename Interface, typename First, typename Second>
ULONG STDMETHODCALLTYPE BrowserHandler<Interface, First, Second>::AddRef() {
    return ++references_;
}

template <typename Interface, typename First, typename Second>
ULONG STDMETHODCALLTYPE BrowserHandler<Interface, First, Second>::Release() {
    const ULONG remaining = --references_;
    if (remaining == 0) {
        delete this;
    }
    return remaining;
}

template <typename Interface, typename First, typename Second>
HRESULT STDMETHODCALLTYPE BrowserHandler<Interface, First, Second>::Invoke(First first, Second second) {
    try {
        return (BrowserHost::Instance().*method_)(generation_, first, second);
    } catch (...) {
        DebugTrace(L"A browser callback failed and was dropped");
        return S_OK;
    }
}

namespace {

template <typename Interface, typename First, typename Second>
ComPtr<Interface> Make(const IID& iid, HRESULT (BrowserHost::*method)(unsigned, First, Second)) {
    return ComPtr<Interface>::Attach(new (std::nothrow)
                                         BrowserHandler<Interface, First, Second>(iid, method));
}

}  // namespace

ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> MakeEnvironmentCompletedHandler() {
    return Make<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
        IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, &BrowserHost::OnEnvironmentCompleted);
}

ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> MakeControllerCompletedHandler() {
    return Make<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
        IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler, &BrowserHost::OnControllerCompleted);
}

ComPtr<ICoreWebView2NavigationStartingEventHandler> MakeNavigationStartingHandler() {
    return Make<ICoreWebView2NavigationStartingEventHandler>(IID_ICoreWebView2NavigationStartingEventHandler,
                                                             &BrowserHost::OnNavigationStarting);
}

ComPtr<ICoreWebView2NavigationCompletedEventHandler> MakeNavigationCompletedHandler() {
    return Make<ICoreWebView2NavigationCompletedEventHandler>(
        IID_ICoreWebView2NavigationCompletedEventHandler, &BrowserHost::OnNavigationCompleted);
}

ComPtr<ICoreWebView2WebMessageReceivedEventHandler> MakeWebMessageReceivedHandler() {
    return Make<ICoreWebView2WebMessageReceivedEventHandler>(IID_ICoreWebView2WebMessageReceivedEventHandler,
                                                             &BrowserHost::OnWebMessageReceived);
}

ComPtr<ICoreWebView2ProcessFailedEventHandler> MakeProcessFailedHandler() {
    return Make<ICoreWebView2ProcessFailedEventHandler>(IID_ICoreWebView2ProcessFailedEventHandler,
                                                        &BrowserHost::OnProcessFailed);
}

ComPtr<ICoreWebView2NewWindowRequestedEventHandler> MakeNewWindowRequestedHandler() {
    return Make<ICoreWebView2NewWindowRequestedEventHandler>(IID_ICoreWebView2NewWindowRequestedEventHandler,
                                                             &BrowserHost::OnNewWindowRequested);
}

ComPtr<ICoreWebView2AcceleratorKeyPressedEventHandler> MakeAcceleratorKeyPressedHandler() {
    return Make<ICoreWebView2AcceleratorKeyPressedEventHandler>(
        IID_ICoreWebView2AcceleratorKeyPressedEventHandler, &BrowserHost::OnAcceleratorKeyPressed);
}
