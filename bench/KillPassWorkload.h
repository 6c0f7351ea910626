#pragma once
// The auto-kill pass workload shared by KillPassBench and SnapshotBench: the texts of 599 shown
// rows of a busy machine, rule files of 1,023 rules that no row satisfies, and a typical user's
// rule file of 20 rules.

#include <array>
#include <string>
#include <vector>

#include "autokill/RuleEvaluator.h"

namespace varnel {
namespace killpass {

constexpr int kRows = 599;
constexpr int kRules = 1023;

// Texts of a busy machine's session list; the views in `rows` point into `texts`.
struct Rows {
    std::vector<std::array<std::string, 9>> texts;
    std::vector<RowTexts> rows;
};

inline Rows MakeRows() {
    Rows r;
    r.texts.resize(kRows);
    for (int i = 0; i < kRows; ++i) {
        auto& t = r.texts[i];
        t[0] = "192.168.1." + std::to_string(2 + i % 200);
        t[1] = "desk" + std::to_string(i % 7) + ".lan";
        t[2] = std::to_string(40000 + i);
        t[3] = "93.184." + std::to_string(i % 250) + "." + std::to_string((i * 37) % 250);
        t[4] = "node" + std::to_string(i) + ".cdn.example.net";
        t[5] = i % 3 == 0 ? "80" : "443";
        t[6] = i % 5 == 0 ? "Waiting" : "Connecting";
        t[7] = std::to_string(i % 60) + "m " + std::to_string(i % 60) + "s";
        t[8] = "app" + std::to_string(i % 40) + ".bin(" + std::to_string(1000 + i) + ")";
    }
    for (const auto& t : r.texts)
        r.rows.push_back(RowTexts{t[0], t[1], t[2], t[3], t[4], t[5], t[6], t[7], t[8]});
    return r;
}

// 1,023 rules of one to three conditions (host suffixes, address prefixes, port ranges, process
// prefixes), none of which any row satisfies.
inline std::string NoMatchRules() {
    std::string text = "# generated\r\n";
    for (int i = 0; i < kRules; ++i) {
        std::string rule;
        switch (i % 4) {
            case 0:
                rule = "HOST2=.tracker" + std::to_string(i) + ".com";
                break;
            case 1:
                rule = "IP2=203.0." + std::to_string(i % 256) + ".";
                break;
            case 2:
                rule = "PORT2=" + std::to_string(1000 + i) + "-" + std::to_string(1010 + i);
                break;
            default:
                rule = "PID=malware" + std::to_string(i);
                break;
        }
        if (i % 3 >= 1) rule += ",IP1=10." + std::to_string(i % 256) + ".";
        if (i % 3 == 2) rule += ",PORT1=" + std::to_string(i + 1) + "-" + std::to_string(i + 2);
        text += rule + "\r\n";
    }
    return text;
}

// 1,023 rules whose every condition but the last (in test order) holds for every row.
inline std::string LastTestFailsRules() {
    std::string text;
    for (int i = 0; i < kRules; ++i) {
        std::string suffix = std::string(".cdn.example.net").substr(static_cast<size_t>(i % 10));
        // The pass runs at hour 12; the hour window (tested last) never holds.
        text += "PID=app,HOST2=" + suffix + ",PORT2=1-" + std::to_string(1000 + i) +
                ",IP2=/93.184./,HOST1=.lan,IP1=192.168.1.,SYSTIME=" + std::to_string(i % 12) + "\r\n";
    }
    return text;
}

// A user's everyday rule file of 20 rules: an update host exempted, the usual ports (IRC, SMTP,
// NetBIOS, proxies, file sharing), documentation address blocks, advertising hosts by suffix and
// containment, a process prefix, a long FTP session, remote desktop at night. None of them
// matches a loopback connection between two ports of the ephemeral range (32768 and up), whose
// host is "localhost" or, unresolved, its address.
inline std::string TypicalRules() {
    return "# Updates are never cut\r\n"
           "ALLOW=1,HOST2=.update.example.com\r\n"
           "ALLOW=1,IP2=192.168.1.,PORT2=445\r\n"
           "PORT2=6667-6669\r\n"
           "PORT2=25,PID!=thunderbird\r\n"
           "PORT2=135-139\r\n"
           "PORT2=445\r\n"
           "PORT2=1080,NOLOG=1\r\n"
           "PORT2=4444\r\n"
           "PORT2=6881-6889\r\n"
           "PORT2=31337\r\n"
           "IP2=203.0.113.\r\n"
           "IP2=198.51.100.\r\n"
           "IP2=192.0.2.,PORT2=80-443\r\n"
           "HOST2=.doubleclick.net\r\n"
           "HOST2=*.tracker.example.org\r\n"
           "HOST2=/adserver/\r\n"
           "HOST2=????,PORT2=23\r\n"
           "PID=cryptominer\r\n"
           "TIME=3600,PORT2=21\r\n"
           "SYSTIME=1-5,PORT2=3389\r\n";
}

}  // namespace killpass
}  // namespace varnel
