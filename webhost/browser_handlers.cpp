#include "webhost/browser_handlers.h"

#include "webhost/browser_state.h"

template <typename Interface>
BrowserHandler<Interface>::BrowserHandler(const IID& ownIid)
    : ownIid_(ownIid), generation_(g_browserGeneration) {}

template <typename Interface>
HRESULT STDMETHODCALLTYPE BrowserHandler<Interface>::QueryInterface(REFIID iid, void** object) {
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

template <typename Interface>
ULONG STDMETHODCALLTYPE BrowserHandler<Interface>::AddRef() {
    return ++references_;
}

template <typename Interface>
ULONG STDMETHODCALLTYPE BrowserHandler<Interface>::Release() {
    const ULONG remaining = --references_;
    if (remaining == 0) {
        delete this;
    }
    return remaining;
}

template <typename Interface>
bool BrowserHandler<Interface>::BelongsToCurrentBrowser() const {
    return generation_ == g_browserGeneration;
}

template class BrowserHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>;
template class BrowserHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>;
template class BrowserHandler<ICoreWebView2NavigationStartingEventHandler>;
template class BrowserHandler<ICoreWebView2NavigationCompletedEventHandler>;
template class BrowserHandler<ICoreWebView2WebMessageReceivedEventHandler>;

CEnvCompletedHandler::CEnvCompletedHandler()
    : BrowserHandler(IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler) {}

CWebViewControllerHandler::CWebViewControllerHandler()
    : BrowserHandler(IID_ICoreWebView2CreateCoreWebView2ControllerCompletedHandler) {}

CNavStartingHandler::CNavStartingHandler()
    : BrowserHandler(IID_ICoreWebView2NavigationStartingEventHandler) {}

CNavCompletedHandler::CNavCompletedHandler()
    : BrowserHandler(IID_ICoreWebView2NavigationCompletedEventHandler) {}

CWebMessageHandler::CWebMessageHandler() : BrowserHandler(IID_ICoreWebView2WebMessageReceivedEventHandler) {}
