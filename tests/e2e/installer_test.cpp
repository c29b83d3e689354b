// The Windows Installer package as IT departments deploy it, silently
// (msiexec /i ... /qn, msiexec /x ... /qn), for the user running the test:
// the programs in the user's programs folder, the Start menu shortcut
// "Tavrolin" whose target starts the window program, tavrolin-cli.exe
// answering --version from there, the product among the installed ones
// with its version, a newer package replacing it, and nothing of it left
// after the removal. installer_test.sh makes the packages and names them
// in TAV_MSI (with TAV_MSI_VERSION) and TAV_MSI_NEWER (TAV_MSI_NEWER_VERSION);
// without them the test skips.
#include <cstdio>

#include "e2e_fixture.h"

#include <msi.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

namespace {

// Fixed for every version: a newer package finds and replaces an older one by it.
const wchar_t* const UPGRADE_CODE = L"{00A60031-B6D6-4DF0-A6DD-72588E47CE29}";
const int MSIEXEC_TIMEOUT_MS = 120000;

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::wstring folder;
    if (SHGetKnownFolderPath(id, 0, nullptr, &path) == S_OK) folder = path;
    CoTaskMemFree(path);
    return folder;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The product codes installed under the upgrade code.
std::vector<std::wstring> InstalledProducts() {
    std::vector<std::wstring> products;
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumRelatedProductsW(UPGRADE_CODE, 0, i, code) == ERROR_SUCCESS; ++i) products.push_back(code);
    return products;
}

// A property of a product installed in that context ("" where it is not).
std::string InstalledProperty(const std::wstring& product, MSIINSTALLCONTEXT context, const wchar_t* property) {
    wchar_t value[256] = L"";
    DWORD size = 256;
    if (MsiGetProductInfoExW(product.c_str(), nullptr, context, property, value, &size) != ERROR_SUCCESS) return "";
    return Narrow(value);
}

// Where the shortcut leads, as the shell reads it.
std::wstring ShortcutTarget(const std::wstring& link) {
    std::wstring target;
    IShellLinkW* shellLink = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                reinterpret_cast<void**>(&shellLink))))
        return target;
    IPersistFile* file = nullptr;
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t path[MAX_PATH] = L"";
        if (SUCCEEDED(file->Load(link.c_str(), STGM_READ)) && SUCCEEDED(shellLink->GetPath(path, MAX_PATH, nullptr, 0)))
            target = path;
        file->Release();
    }
    shellLink->Release();
    return target;
}

int Msiexec(const wchar_t* action, const std::wstring& package) {
    return RunToEnd(L"msiexec " + std::wstring(action) + L" \"" + package + L"\" /qn", MSIEXEC_TIMEOUT_MS);
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override {
        package = Widen(EnvOr("TAV_MSI", ""));
        newer = Widen(EnvOr("TAV_MSI_NEWER", ""));
        if (package.empty() || newer.empty()) GTEST_SKIP() << "no packages: TAV_MSI/TAV_MSI_NEWER unset";
        CoInitialize(nullptr);
        folder = KnownFolder(FOLDERID_LocalAppData) + L"\\Programs\\Tavrolin";
        shortcut = KnownFolder(FOLDERID_Programs) + L"\\Tavrolin.lnk";
        for (const std::wstring& product : InstalledProducts()) Msiexec(L"/x", product);  // an earlier run's
    }
    void TearDown() override {
        StopApp(&app);
        CoUninitialize();
    }

    // Installed: the files, the shortcut, one product of the version.
    void ExpectInstalled(const std::string& version) {
        for (const wchar_t* name : {L"tavrolin.exe", L"tavrolin-cli.exe", L"readersim.exe", L"使用说明.txt"})
            EXPECT_TRUE(Exists(folder + L"\\" + name)) << Narrow(name) << " missing";
        EXPECT_TRUE(Exists(shortcut)) << "no Start menu shortcut";
        const std::vector<std::wstring> products = InstalledProducts();
        ASSERT_EQ(products.size(), 1u) << "products installed under the upgrade code";
        // Installed for this user alone (no administrator rights asked), listed with its name and version.
        const MSIINSTALLCONTEXT user = MSIINSTALLCONTEXT_USERUNMANAGED;
        EXPECT_EQ(InstalledProperty(products[0], user, INSTALLPROPERTY_INSTALLEDPRODUCTNAME), "Tavrolin");
        EXPECT_EQ(InstalledProperty(products[0], user, INSTALLPROPERTY_VERSIONSTRING), version) << "not installed for the user";
        EXPECT_EQ(InstalledProperty(products[0], MSIINSTALLCONTEXT_MACHINE, INSTALLPROPERTY_VERSIONSTRING), "")
            << "installed for the machine";
        std::printf("[ installer ] %s installed for this user: %s, shortcut %s\n", version.c_str(), Narrow(folder).c_str(),
                    Narrow(shortcut).c_str());
    }

    std::wstring package, newer, folder, shortcut;
    AppProcess app;
};

TEST_F(Installer, InstallsForTheUserStartsFromItsShortcutUpgradesAndLeavesNothing) {
    const std::string version = EnvOr("TAV_MSI_VERSION", ""), newerVersion = EnvOr("TAV_MSI_NEWER_VERSION", "");
    ASSERT_EQ(Msiexec(L"/i", package), 0) << "msiexec /i";
    ExpectInstalled(version);

    // The command-line program answers from the installed folder.
    std::string out;
    EXPECT_EQ(RunReading(L"\"" + folder + L"\\tavrolin-cli.exe\" --version", &out, 30000), 0);
    EXPECT_EQ(out.rfind("tavrolin-cli " + version, 0), 0u) << out;

    // The shortcut's target is the installed window program, and it starts.
    const std::wstring target = ShortcutTarget(shortcut);
    EXPECT_EQ(CompareStringOrdinal(target.c_str(), -1, (folder + L"\\tavrolin.exe").c_str(), -1, TRUE), CSTR_EQUAL)
        << Narrow(target);
    _wputenv_s(L"TAV_APP_EXE", target.c_str());
    EXPECT_TRUE(StartApp(&app)) << "tavrolin.exe did not start from the shortcut's target";
    StopApp(&app);
    _wputenv_s(L"TAV_APP_EXE", L"");

    // A newer package replaces it: one product, the newer version.
    ASSERT_EQ(Msiexec(L"/i", newer), 0) << "msiexec /i of the newer package";
    ExpectInstalled(newerVersion);

    // Removed silently: nothing of it left.
    ASSERT_EQ(Msiexec(L"/x", newer), 0) << "msiexec /x";
    EXPECT_FALSE(Exists(folder)) << "the programs' folder is left";
    EXPECT_FALSE(Exists(shortcut)) << "the shortcut is left";
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Tavrolin", 0, KEY_READ, &key), ERROR_SUCCESS)
        << "registry values are left";
    if (key != nullptr) RegCloseKey(key);
    EXPECT_TRUE(InstalledProducts().empty()) << "still among the installed programs";
    std::printf("[ installer ] removed: no folder, no shortcut, no registry key, no product\n");
}

}  // namespace
