// The handler objects the browser runtime calls back. Each implements exactly one published
// handler interface with the same QueryInterface/AddRef/Release rules, remembers the browser it
// was made for (BrowserHost's generation) and forwards its Invoke to one method of BrowserHost,
// which decides what a call for a torn-down browser still does. The handlers themselves are
// made in browser_handlers.cpp, one function per event, so each event is one hop from here.
#pragma once

#include "base/unique_handle.h"
#include "webhost/webview2_interfaces.h"

#include <atomic>

class BrowserHost;

// Completions (HRESULT, object) and events (sender, args) both take two arguments; the method
// receives the handler's generation first.
template <typename Interface, typename First, typename Second>
class BrowserHandler : public Interface {
  public:
    using Method = HRESULT (BrowserHost::*)(unsigned generation, First, Second);

    BrowserHandler(const IID& ownIid, Method method);
    BrowserHandler(const BrowserHandler&) = delete;
    BrowserHandler& operator=(const BrowserHandler&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // No exception reaches the runtime: one that escapes the method is traced and answered S_OK.
    HRESULT STDMETHODCALLTYPE Invoke(First first, Second second) override;

  private:
    // Its slots come after the interface's, so the runtime's view of the table is unchanged.
    virtual ~BrowserHandler() = default;

    const IID& ownIid_;
    const Method method_;
    std::atomic<ULONG> references_{1};
    const unsigned generation_;
};

ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> MakeEnvironmentCompletedHandler();
ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> MakeControllerCompletedHandler();
ComPtr<ICoreWebView2NavigationStartingEventHandler> MakeNavigationStartingHandler();
ComPtr<ICoreWebView2NavigationCompletedEventHandler> MakeNavigationCompletedHandler();
ComPtr<ICoreWebView2WebMessageReceivedEventHandler> MakeWebMessageReceivedHandler();
ComPtr<ICoreWebView2ProcessFailedEventHandler> MakeProcessFailedHandler();
ComPtr<ICoreWebView2NewWindowRequestedEventHandler> MakeNewWindowRequestedHandler();
ComPtr<ICoreWebView2AcceleratorKeyPressedEventHandler> MakeAcceleratorKeyPressedHandler();
