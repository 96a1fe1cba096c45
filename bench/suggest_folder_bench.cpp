// Suggest in the Windows program when many records share one program folder:
// the whole click against the real file system, and the same file tests asked
// one by one outside a run, as every test was before the folder listing.
// Prints wall times; run it under Wine or on Windows. Nothing here asserts a time.
//
//   suggest_folder_bench.exe [records=10000] [files=5000]
// makes a scratch folder of `files` files in %TEMP%; record i names file i,
// so records beyond `files` name files that are not there.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "application/form1.h"
#include "catalogue/listing.h"
#include "doubles/memory_registry.h"
#include "doubles/recording_skin_engine.h"
#include "platform/win32/win32_desktop.h"

namespace {

using namespace ssr;
namespace fs = std::filesystem;

double Now() {
    LARGE_INTEGER frequency{}, count{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

Text TextOf(const std::wstring& wide) { return Text(wide.begin(), wide.end()); }
std::wstring FileName(int i) { return L"Program " + std::to_wstring(i) + L".exe"; }

}  // namespace

int main(int argc, char** argv) {
    const int records = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int files = argc > 2 ? std::atoi(argv[2]) : 5000;
    std::wstring temp(MAX_PATH + 1, L'\0');
    temp.resize(::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data()));
    const fs::path folder = fs::path(temp) / (L"ssr-suggest-bench-" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(folder);
    for (int i = 0; i < files; ++i) {
        const HANDLE file = ::CreateFileW((folder / FileName(i)).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    }

    MemoryRegistry registry;
    std::vector<Text> targets;
    for (int i = 0; i < records; ++i) {
        targets.push_back(TextOf((folder / FileName(i)).wstring()));
        const Text key = Text(kUninstallKeyPath) + u"\\{" + DecimalText(100000 + i) + u"-Bench}";
        registry.SetText(key, u"DisplayName", u"Bench program " + DecimalText(i));
        registry.SetText(key, u"UninstallString", u"\"" + targets.back() + u"\" /S");
    }
    win32::Win32Desktop desktop(u"suggest bench");
    RecordingSkinEngine skin;
    Form1 form(registry, desktop, skin);
    ListUninstallEntries(registry, form.ListView1(), desktop);

    double start = Now();
    form.PushButton3_Click();
    const double click = Now() - start;
    int checked = 0;
    for (int row = 1; row <= form.ListView1().Count(); ++row) checked += form.ListView1().Checked(row) ? 1 : 0;

    start = Now();
    int missing = 0;
    for (const Text& target : targets) missing += desktop.QueryFileState(target).state == FileState::Missing ? 1 : 0;
    const double one_by_one = Now() - start;

    std::printf("records %d, files %d in one folder\n", records, files);
    std::printf("Suggest click:             %9.1f ms, %d checked\n", click * 1000, checked);
    std::printf("tests one by one, no run:  %9.1f ms, %d missing\n", one_by_one * 1000, missing);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return checked == missing ? 0 : 1;
}
