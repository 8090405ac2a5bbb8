// The program's five handler objects that the browser runtime calls back. Each implements exactly
// one published handler interface and shares the same QueryInterface/AddRef/Release rules; each
// remembers the browser it was made for (g_browserGeneration), so that a call arriving after that
// browser was torn down does nothing.
#pragma once

#include "webhost/webview2_interfaces.h"

#include <atomic>

template <typename Interface>
class BrowserHandler : public Interface {
  public:
    explicit BrowserHandler(const IID& ownIid);
    BrowserHandler(const BrowserHandler&) = delete;
    BrowserHandler& operator=(const BrowserHandler&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

  protected:
    // Its slots come after the interface's, so the runtime's view of the table is unchanged.
    virtual ~BrowserHandler() = default;
    // False once the browser this handler was made for has been torn down.
    bool BelongsToCurrentBrowser() const;

  private:
    const IID& ownIid_;
    std::atomic<ULONG> references_{1};
    const unsigned generation_;
};

class CEnvCompletedHandler
    : public BrowserHandler<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> {
  public:
    CEnvCompletedHandler();
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT result, ICoreWebView2Environment* environment) override;
};

class CWebViewControllerHandler
    : public BrowserHandler<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> {
  public:
    CWebViewControllerHandler();
    HRESULT STDMETHODCALLTYPE Invoke(HRESULT result, ICoreWebView2Controller* controller) override;
};

class CNavStartingHandler : public BrowserHandler<ICoreWebView2NavigationStartingEventHandler> {
  public:
    CNavStartingHandler();
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                     ICoreWebView2NavigationStartingEventArgs* args) override;
};

class CNavCompletedHandler : public BrowserHandler<ICoreWebView2NavigationCompletedEventHandler> {
  public:
    CNavCompletedHandler();
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                     ICoreWebView2NavigationCompletedEventArgs* args) override;
};

class CWebMessageHandler : public BrowserHandler<ICoreWebView2WebMessageReceivedEventHandler> {
  public:
    CWebMessageHandler();
    HRESULT STDMETHODCALLTYPE Invoke(ICoreWebView2* sender,
                                     ICoreWebView2WebMessageReceivedEventArgs* args) override;
};

// Releases one reference of `handler` (any of the five) and nulls the pointer.
template <typename Handler>
void ReleaseHandler(Handler*& handler) {
    if (handler) {
        handler->Release();
        handler = nullptr;
    }
}
