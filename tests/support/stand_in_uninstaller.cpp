// A stand-in uninstaller for the Windows tests: it takes steps on a record of
// the uninstall key, as a real one would, and tells the test how far it got
// through files in its folder. Usage:
//
//   stand_in_uninstaller FOLDER PLACE KEY STEPS [PARENT]
//
// PLACE is machine64, machine32 or user, and KEY the record's key below that
// place's uninstall key ("-" for none). STEPS, one letter each, in order
// ("-" for none):
//   r  restarts itself, as many uninstallers do: copies itself into FOLDER,
//      starts the copy with the steps after this one and ends at once; the
//      copy waits for this program (PARENT) to end before it goes on
//   d  deletes the record
//   m  writes FOLDER\running
//   w  waits until FOLDER\release exists, for a minute at most
// A GUI program, as uninstallers are: no console comes with it.

#include <windows.h>

#include <shellapi.h>

#include <cstdlib>
#include <string>

namespace {

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr DWORD kLongestWait = 60000;

struct Orders {
    std::wstring folder;
    std::wstring place;
    std::wstring key;
    std::wstring steps;
    DWORD parent = 0;
};

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool DeleteRecord(const Orders& orders) {
    if (orders.key == L"-") return true;
    const HKEY root = orders.place == L"user" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    const REGSAM view = orders.place == L"machine32" ? KEY_WOW64_32KEY : orders.place == L"machine64" ? KEY_WOW64_64KEY : 0;
    return ::RegDeleteKeyExW(root, (kUninstallKey + orders.key).c_str(), view, 0) == ERROR_SUCCESS;
}

bool WriteRunning(const Orders& orders) {
    const HANDLE file = ::CreateFileW((orders.folder + L"\\running").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

void WaitForRelease(const Orders& orders) {
    for (DWORD waited = 0; waited < kLongestWait && !Exists(orders.folder + L"\\release"); waited += 50) ::Sleep(50);
}

// The copy runs from the folder, like an uninstaller's copy in the temporary folder.
bool Restart(const Orders& orders, const std::wstring& rest) {
    std::wstring self(MAX_PATH, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
    const std::wstring copy = orders.folder + L"\\copy-" + std::to_wstring(::GetCurrentProcessId()) + L".exe";
    if (!::CopyFileW(self.c_str(), copy.c_str(), FALSE)) return false;
    std::wstring line = L"\"" + copy + L"\" \"" + orders.folder + L"\" " + orders.place + L" " + orders.key + L" " +
                        (rest.empty() ? L"-" : rest) + L" " + std::to_wstring(::GetCurrentProcessId());
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(copy.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return false;
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

int Run(const Orders& orders) {
    if (orders.parent != 0) {
        if (const HANDLE parent = ::OpenProcess(SYNCHRONIZE, FALSE, orders.parent)) {
            ::WaitForSingleObject(parent, kLongestWait);
            ::CloseHandle(parent);
        }
    }
    const std::wstring steps = orders.steps == L"-" ? std::wstring() : orders.steps;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        switch (steps[i]) {
        case L'r': return Restart(orders, steps.substr(i + 1)) ? 0 : 3;
        case L'd':
            if (!DeleteRecord(orders)) return 4;
            break;
        case L'm':
            if (!WriteRunning(orders)) return 5;
            break;
        case L'w': WaitForRelease(orders); break;
        default: return 2;
        }
    }
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** words = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!words || count < 5) return 2;
    Orders orders{words[1], words[2], words[3], words[4], count > 5 ? std::wcstoul(words[5], nullptr, 10) : 0};
    ::LocalFree(words);
    return Run(orders);
}
