#include "base/unique_handle.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

bool IsOpenHandle(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

// Counts references the way a COM object does, so the test sees every AddRef and Release.
class CountedObject : public IUnknown {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    ULONG refs = 1;
};

}  // namespace

TEST(UniqueHandle, ClosesExactlyOnceAndMovesOwnership) {
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(raw, nullptr);
    {
        UniqueHandle first(raw);
        UniqueHandle second(std::move(first));
        EXPECT_FALSE(first.valid());
        EXPECT_EQ(second.get(), raw);
        UniqueHandle third;
        third = std::move(second);
        EXPECT_FALSE(second);
        EXPECT_TRUE(IsOpenHandle(raw));
    }
    EXPECT_FALSE(IsOpenHandle(raw)) << "closed when the last owner went away";

    HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE replacement = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        UniqueHandle owner(kept);
        owner.reset(replacement);
        EXPECT_FALSE(IsOpenHandle(kept)) << "reset closes the old handle";
        HANDLE released = owner.release();
        EXPECT_EQ(released, replacement);
    }
    EXPECT_TRUE(IsOpenHandle(replacement)) << "release gives up ownership";
    CloseHandle(replacement);
}

TEST(UniqueHandle, FileHandlesUseInvalidHandleValueAsEmpty) {
    UniqueFile missing(
        CreateFileW(L"Z:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing.valid());
    EXPECT_EQ(missing.get(), INVALID_HANDLE_VALUE);
}

TEST(ComPtr, HoldsOneReferencePerOwner) {
    CountedObject object;
    {
        ComPtr<IUnknown> a(&object);
        EXPECT_EQ(object.refs, 2u);
        ComPtr<IUnknown> b = a;
        EXPECT_EQ(object.refs, 3u);
        ComPtr<IUnknown> c = std::move(b);
        EXPECT_EQ(object.refs, 3u);
        EXPECT_FALSE(b);
        a = c;
        EXPECT_EQ(object.refs, 3u) << "self-consistent copy assignment";
        a.reset();
        EXPECT_EQ(object.refs, 2u);
    }
    EXPECT_EQ(object.refs, 1u);
    object.AddRef();
    {
        ComPtr<IUnknown> adopted = ComPtr<IUnknown>::Attach(&object);
        EXPECT_EQ(object.refs, 2u);
    }
    EXPECT_EQ(object.refs, 1u);
}
