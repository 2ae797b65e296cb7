#include <gtest/gtest.h>

#include <QCoreApplication>
#include <thread>

#include "platform/Apartment.h"
#include "platform/ClassRegistry.h"
#include "platform/ComObject.h"
#include "platform/Guid.h"

namespace {

class Probe : public TComObject<ITTSNotifySinkA, ITTSBufNotifySink> {
  public:
    explicit Probe(int* destroyed) : destroyed_(destroyed) {}
    ~Probe() override { ++*destroyed_; }
    HRESULT AttribChanged(DWORD) override { return S_OK; }
    HRESULT AudioStart(QWORD) override { return S_OK; }
    HRESULT AudioStop(QWORD) override { return S_OK; }
    HRESULT Visual(QWORD, char, char, DWORD, PTTSMOUTH) override { return S_OK; }
    HRESULT TextDataDone(QWORD, DWORD) override { return S_OK; }
    HRESULT TextDataStarted(QWORD) override { return S_OK; }
    HRESULT BookMark(QWORD, DWORD) override { return S_OK; }
    HRESULT WordPosition(QWORD, DWORD) override { return S_OK; }

  private:
    int* destroyed_;
};

TEST(CountedReference, ObjectLivesAsLongAsAnyReferenceAndAnswersItsInterfaces) {
    int destroyed = 0;
    ComPtr<ITTSBufNotifySink> buf;
    {
        ComPtr<ITTSNotifySinkA> sink = MakeCom<Probe>(&destroyed);
        EXPECT_EQ(S_OK, sink.As(buf));
        ComPtr<ITTSAttributesA> none;
        EXPECT_EQ(E_NOINTERFACE, sink.As(none));
        EXPECT_FALSE(none);
        ComPtr<IUnknown> a, b;
        sink.As(a);
        buf.As(b);
        EXPECT_EQ(a.Get(), b.Get()) << "IUnknown identity must be the same through any interface";
    }
    EXPECT_EQ(0, destroyed);
    buf = nullptr;
    EXPECT_EQ(1, destroyed);
}

TEST(GuidText, RegistryFormAndNameBasedIdentifiers) {
    std::string text;
    ASSERT_EQ(S_OK, StringFromCLSID(IID_ITTSBufNotifySink, text));
    EXPECT_EQ("{E4963D40-C743-11CD-80E5-00AA003E4B50}", text);
    GUID back{};
    ASSERT_TRUE(GuidFromString(text, back));
    EXPECT_EQ(IID_ITTSBufNotifySink, back);
    // Name-based identifiers are stored in settings files: they never change.
    for (const auto& [name, id] :
         {std::pair{"espeak-ng/gmw/en-US", "{8B027697-A480-5CDB-B659-50F715580CBD}"},
          {"flite/slt", "{222BE272-5C0E-5900-98D5-113A0D88A8AF}"},
          {"", "{EB32A939-7AE4-57E0-86D9-8D18D011CFD5}"}})
        EXPECT_EQ(id, GuidToString(GuidFromName(name))) << name;
    // The opening brace is optional, hex digits of either case; anything else is refused.
    for (const auto& [form, parses] : {std::pair{"e4963d40-c743-11cd-80e5-00aa003e4b50", true},
                                       {"{00000000-0000-0000-0000-000000000000}", true},
                                       {"00000000-0000-0000-0000-000000000000", false},
                                       {"{E4963D40-C743-11CD-80E5+00AA003E4B50}", false},
                                       {"{E4963D40-C743-11CD-80E5-00AA003E4B5G}", false},
                                       {"", false}}) {
        GUID parsed{};
        EXPECT_EQ(parses, GuidFromString(form, parsed)) << form;
        if (parses && form[1] == '4') {
            EXPECT_EQ(IID_ITTSBufNotifySink, parsed) << form;
        }
    }
}

TEST(ClassRegistry, CreatesRegisteredClassesOnly) {
    int destroyed = 0;
    const CLSID fake = GuidFromName("test/fake-class");
    void* obj = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(fake, nullptr, CLSCTX_ALL, IID_ITTSNotifySinkA, &obj));
    RegisterClassObject(fake, [&](const IID& iid, void** out) {
        ComPtr<ITTSNotifySinkA> p = MakeCom<Probe>(&destroyed);
        return p->QueryInterface(iid, out);
    });
    ASSERT_EQ(S_OK, CoCreateInstance(fake, nullptr, CLSCTX_ALL, IID_ITTSNotifySinkA, &obj));
    auto sink = ComPtr<ITTSNotifySinkA>::Attach(static_cast<ITTSNotifySinkA*>(obj));
    sink = nullptr;
    EXPECT_EQ(1, destroyed);
    UnregisterClassObject(fake);
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(fake, nullptr, CLSCTX_ALL, IID_ITTSNotifySinkA, &obj));
}

TEST(Apartment, CallsFromOtherThreadsRunOnTheUiThreadUnderTheGuard) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    EXPECT_FALSE(Apartment::Post([] {})) << "nothing is delivered before the apartment is bound";
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    std::vector<std::string> guarded;
    Apartment::SetGuard([&](const Apartment::Call& call) {
        try {
            call();
        } catch (const std::exception& e) {
            guarded.push_back(e.what());
        }
    });
    bool onUiThread = false;
    std::thread worker([&] {
        Apartment::Post([&] { onUiThread = Apartment::IsApartmentThread(); });
        Apartment::Post([] { throw std::runtime_error("handler failed"); });
        Apartment::Post([&] { app.quit(); });
    });
    worker.join();
    app.exec();
    EXPECT_TRUE(onUiThread);
    ASSERT_EQ(1u, guarded.size());
    EXPECT_EQ("handler failed", guarded[0]);
    Apartment::SetGuard(nullptr);
    CoUninitialize();
    EXPECT_FALSE(Apartment::Post([] {}));
}

}  // namespace
