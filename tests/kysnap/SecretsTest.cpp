// The array password, and the base64 of the credentials that carry it, appear nowhere but in
// the password file: not in any output of kysnap or the plug-in (with --verbose, and with the
// plug-in's diagnostic logging off and on), not in the stored metadata, not in the catalog or
// any other file the CLI writes.
#include <dirent.h>

#include <fstream>

#include <string>
#include <vector>

#include "KysnapSite.h"

namespace kysnap_test {
namespace {

std::string base64(const std::string& text) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < text.size(); i += 3) {
        const unsigned value =
            (static_cast<unsigned char>(text[i]) << 16) |
            (i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) << 8 : 0) |
            (i + 2 < text.size() ? static_cast<unsigned char>(text[i + 2]) : 0);
        out += kDigits[(value >> 18) & 63];
        out += kDigits[(value >> 12) & 63];
        out += i + 1 < text.size() ? kDigits[(value >> 6) & 63] : '=';
        out += i + 2 < text.size() ? kDigits[value & 63] : '=';
    }
    return out;
}

class Secrets : public KysnapSite {
protected:
    Secrets() { password = "Zq:7-secret:pW9x"; }

    // Every file in the test's directory but the password file itself.
    std::string everyOtherFile() {
        std::string all;
        DIR* dir = opendir(directory.c_str());
        while (dirent* entry = dir != nullptr ? readdir(dir) : nullptr) {
            const std::string name = entry->d_name;
            if (name != "." && name != ".." && name != "array.password") {
                all += readFile(path(name));
            }
        }
        if (dir != nullptr) {
            closedir(dir);
        }
        return all;
    }
};

TEST_F(Secrets, PasswordNeverLeavesItsFileWhateverTheLogging) {
    const std::vector<std::string> leaks = {password, base64(password),
                                            base64("admin:" + password)};
    for (const char* diagnostic : {"no", "yes"}) {
        SCOPED_TRACE(std::string("diagnostic logging ") + diagnostic);
        writeConfig(std::string("diagnostic-logging = ") + diagnostic + "\n");
        std::string shown;
        auto run = [&](std::vector<std::string> arguments, int expected = 0) {
            arguments.push_back("--verbose");
            const CliRun done = expectRun(arguments, expected);
            shown += done.out + done.err;
            return done;
        };
        run({"check"});
        run({"prepare", kOraData, kHomeShare});
        run({"snap", kOraData, kHomeShare});
        const CliRun listed = run({"list", "--json"});
        jsonxx::Object all;
        ASSERT_TRUE(all.parse(listed.out)) << listed.out;
        const jsonxx::Array& records = all.get<jsonxx::Array>("snapshots");
        std::vector<std::string> snapshots;
        for (size_t i = 0; i < records.size(); ++i) {
            snapshots.push_back(records.get<jsonxx::Object>(i).get<jsonxx::String>("name"));
        }
        // The catalog keeps the snapshots of both rounds; this round's are the last two.
        ASSERT_GE(snapshots.size(), 2u) << listed.out;
        snapshots.erase(snapshots.begin(), snapshots.end() - 2);
        std::vector<std::string> map = {"map"};
        map.insert(map.end(), snapshots.begin(), snapshots.end());
        run(map);
        for (const char* step : {"unmap", "reconcile", "delete"}) {
            std::vector<std::string> arguments = {step};
            arguments.insert(arguments.end(), snapshots.begin(), snapshots.end());
            run(arguments);
        }
        // A refused password is reported without being shown either.
        std::string wrong = password;
        wrong.back() = '0';
        std::ofstream(path("array.password")) << wrong << "\n";
        run({"prepare", kOraLogs}, 1);
        std::ofstream(path("array.password")) << password << "\n";

        const std::string files = everyOtherFile();
        for (const std::string& leak : leaks) {
            EXPECT_EQ(shown.find(leak), std::string::npos) << leak;
            EXPECT_EQ(files.find(leak), std::string::npos) << leak;
        }
        EXPECT_EQ(shown.find(wrong), std::string::npos);
        EXPECT_NE(shown.find("hostPassword:******"), std::string::npos);
    }
}

}  // namespace
}  // namespace kysnap_test
