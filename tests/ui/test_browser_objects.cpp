// The editor's browser objects on their own: the options' properties and reference
// counts, the handler's one identity, the command line that opens an address outside
// the editor, and the reading of a gesture's two numbers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "ui/page_protocol.h"
#include "ui/win32/webview.h"

namespace {

std::wstring take(LPWSTR text) {
    std::wstring s = text ? text : L"(null)";
    CoTaskMemFree(text);
    return s;
}

} // namespace

TEST(BrowserObjects, OptionsHoldCopiesAndCountReferences) {
    auto* options = new WV2EnvironmentOptions();
    LPWSTR text = nullptr;
    BOOL sso = TRUE;
    EXPECT_EQ(options->get_TargetCompatibleBrowserVersion(&text), S_OK);
    EXPECT_EQ(take(text), L"131.0.2903.40");
    EXPECT_EQ(options->get_AdditionalBrowserArguments(&text), S_OK);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(options->get_Language(&text), S_OK);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(options->get_AllowSingleSignOnUsingOSPrimaryAccount(&sso), S_OK);
    EXPECT_EQ(sso, FALSE);

    // A getter hands out a fresh copy each time; a setter keeps its own copy.
    wchar_t arguments[] = L"--allow-file-access-from-files";
    EXPECT_EQ(options->put_AdditionalBrowserArguments(arguments), S_OK);
    arguments[0] = L'X';
    LPWSTR first = nullptr, second = nullptr;
    options->get_AdditionalBrowserArguments(&first);
    options->get_AdditionalBrowserArguments(&second);
    EXPECT_NE(first, second);
    EXPECT_EQ(take(first), L"--allow-file-access-from-files");
    take(second);
    EXPECT_EQ(options->put_Language(nullptr), S_OK);
    EXPECT_EQ(options->put_TargetCompatibleBrowserVersion(nullptr), S_OK);
    EXPECT_EQ(options->get_TargetCompatibleBrowserVersion(&text), S_OK);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(options->put_AllowSingleSignOnUsingOSPrimaryAccount(TRUE), S_OK);
    options->get_AllowSingleSignOnUsingOSPrimaryAccount(&sso);
    EXPECT_EQ(sso, TRUE);

    // Missing out-pointers are refused.
    EXPECT_EQ(options->get_AdditionalBrowserArguments(nullptr), E_POINTER);
    EXPECT_EQ(options->get_Language(nullptr), E_POINTER);
    EXPECT_EQ(options->get_TargetCompatibleBrowserVersion(nullptr), E_POINTER);
    EXPECT_EQ(options->get_AllowSingleSignOnUsingOSPrimaryAccount(nullptr), E_POINTER);
    EXPECT_EQ(options->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(options->QueryInterface(wv2::kIID_EnvironmentCompleted, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(options->QueryInterface(wv2::kIID_EnvironmentOptions, &out), S_OK);
    EXPECT_EQ(out, static_cast<ICoreWebView2EnvironmentOptions*>(options));
    EXPECT_EQ(options->AddRef(), 3u); // one from QueryInterface
    EXPECT_EQ(options->Release(), 2u);
    EXPECT_EQ(options->Release(), 1u);
    EXPECT_EQ(options->Release(), 0u);
}

TEST(BrowserObjects, HandlerAnswersEveryInterfaceWithOneIdentity) {
    auto* handler = new WV2Handler(nullptr, L"C:\\pages\\index.html");
    const IID* interfaces[] = {&wv2::kIID_EnvironmentCompleted, &wv2::kIID_ControllerCompleted,
                               &wv2::kIID_WebMessageReceived, &wv2::kIID_NavigationStarting,
                               &wv2::kIID_NewWindowRequested};
    void* identity = nullptr;
    ASSERT_EQ(handler->QueryInterface(IID_IUnknown, &identity), S_OK);
    for (const IID* iid : interfaces) {
        IUnknown* through = nullptr;
        ASSERT_EQ(handler->QueryInterface(*iid, (void**)&through), S_OK);
        void* back = nullptr;
        ASSERT_EQ(through->QueryInterface(IID_IUnknown, &back), S_OK)
            << "asked through another interface";
        EXPECT_EQ(back, identity);
        static_cast<IUnknown*>(back)->Release();
        through->Release();
    }
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(handler->QueryInterface(wv2::kIID_EnvironmentOptions, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(handler->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(static_cast<IUnknown*>(identity)->Release(), 1u);
    EXPECT_EQ(handler->Release(), 0u);
}

TEST(BrowserObjects, AddressesOpenOutsideOnlyWhenTheyStayInsideTheirQuotes) {
    wchar_t* command = external_open_command(L"https://example.com/a b?c=d&e=%20#top");
    ASSERT_NE(command, nullptr);
    EXPECT_STREQ(command,
                 L"rundll32 url.dll,FileProtocolHandler \"https://example.com/a b?c=d&e=%20#top\"");
    free(command);
    command = external_open_command(L"mailto:n\u00f6@example.com");
    EXPECT_STREQ(command, L"rundll32 url.dll,FileProtocolHandler \"mailto:n\u00f6@example.com\"");
    free(command);
    for (const wchar_t* uri : {L"https://x/\" & calc.exe & \"", L"https://x/\r\nsecond",
                               L"https://x/\t", L"https://x/\x7f", L"\"", L"https://x/\x1b"})
        EXPECT_EQ(external_open_command(uri), nullptr);
    open_externally(L"https://example.invalid/\"refused"); // starts nothing, returns
}

TEST(BrowserObjects, GestureNumbersAreTwoUnsigned32BitHexNumbers) {
    struct Case {
        const char* text;
        bool ok;
        uint32_t index, bits;
    };
    const Case cases[] = {
        {"0 42480000", true, 0, 0x42480000},
        {"A 3F800000", true, 10, 0x3f800000},
        {"0x4 0X43480000", true, 4, 0x43480000},
        {"  2 \t 42960000 and more", true, 2, 0x42960000},
        {"00000000000000005 ffffffff", true, 5, 0xffffffff},
        {"0", false, 0, 0},
        {"0 ", false, 0, 0},
        {"", false, 0, 0},
        {"zz 1", false, 0, 0},
        {"1 zz", false, 0, 0},
        {"-1 1", false, 0, 0},
        {"1 +1", false, 0, 0},
        {"1,2", false, 0, 0},
        {"100000000 0", false, 0, 0},
        {"0 1ffffffff", false, 0, 0},
        {"0x 1", false, 0, 0},
    };
    for (const Case& c : cases) {
        uint32_t index = 77, bits = 77;
        EXPECT_EQ(parse_index_and_bits(c.text, &index, &bits), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(index, c.index) << c.text;
            EXPECT_EQ(bits, c.bits) << c.text;
        }
    }
}
