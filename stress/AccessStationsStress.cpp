// Many stations on one recording, each its own process with its own
// COMPUTERNAME, driven through the access tests' station servers.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "EegFile/access/AccessTestSupport.h"
#include "StressSupport.h"

using namespace accesstest;

// Eight stations take, change and release access in random modes, all at once
// in each round, until 20000 openings (times the scale) have been asked for;
// now and then (at most 200 times) one is killed wherever it has got to, and a
// new one of its name cleans up after it. After each round the control file
// lists exactly the entries of the stations still registered.
TEST(AccessStationsStress, EightStationsOpenAndReleaseWhileSomeAreKilled) {
    Recording rec;
    std::mt19937 rng(stress::Seed());
    const int openings = stress::Scaled(20000), maxKills = stress::Scaled(200);
    auto randomMode = [&] { return static_cast<int32_t>(rng() % 5); };
    // The mode of an entry "NAME#n:m;", -1 for none.
    auto modeOf = [](const std::string& e) { return e.empty() ? -1 : e[e.size() - 2] - '0'; };
    struct Slot {
        std::string name;
        std::unique_ptr<Station> station;
        Command command{Op::Take};
        int held = -1, number = 0;  // the mode held (-1 none) and the station number
        bool cleanUp = false;       // a predecessor was killed
        std::string left;           // the entry it left, if any
    };
    std::vector<Slot> slots(8);
    for (size_t i = 0; i < slots.size(); ++i) {
        slots[i].name = "ST" + std::to_string(i);
        slots[i].station = std::make_unique<Station>(slots[i].name, rec.path);
    }
    auto apply = [&](Slot& s, const Reply& r) {
        EXPECT_EQ(r.error, Reply::none) << s.name << ": " << r.text;
        if (s.command.op == Op::RemoveEntries) {
            EXPECT_EQ(r.value, modeOf(s.left) == 2 || modeOf(s.left) == 3) << s.name << s.left;
            s.cleanUp = false;
        } else if (s.command.op == Op::Release) {
            s.held = -1;
        } else if (r.result) {
            s.held = s.command.a;
            s.number = r.number;
        }
    };
    int takes = 0, kills = 0;
    const auto t0 = std::chrono::steady_clock::now();
    while (takes < openings) {
        for (Slot& s : slots) {
            s.command = s.cleanUp        ? Command{Op::RemoveEntries}
                        : s.held < 0     ? Command{Op::Take, randomMode()}
                        : rng() % 3 == 0 ? Command{Op::Change, randomMode()}
                                         : Command{Op::Release};
            takes += s.command.op == Op::Take;
            ASSERT_TRUE(s.station->Send(s.command));
        }
        // Now and then one is killed after a random number of the others' replies.
        const size_t victim =
            kills < maxKills && rng() % 15 == 0 ? rng() % slots.size() : slots.size();
        const size_t killAt = rng() % slots.size();
        for (size_t i = 0; i < slots.size(); ++i) {
            if (i == killAt && victim < slots.size())
                slots[victim].station->Kill();
            if (i != victim)
                apply(slots[i], slots[i].station->Receive());
        }
        std::multiset<std::string> listed, expected;
        const std::string list = ControlFileStations(rec.control);
        for (size_t at = 0, end; (end = list.find(';', at)) != std::string::npos; at = end + 1)
            listed.insert(list.substr(at, end - at + 1));
        if (victim < slots.size()) {
            // At most one entry, with the mode before or after the step under way.
            Slot& s = slots[victim];
            const int before = s.cleanUp ? modeOf(s.left) : s.held;
            const int after =
                s.command.op == Op::Take || s.command.op == Op::Change ? s.command.a : -1;
            std::vector<std::string> mine;
            for (const std::string& e : listed) {
                if (e.rfind(s.name + "#", 0) == 0)
                    mine.push_back(e);
            }
            ASSERT_LE(mine.size(), 1u) << list;
            s.left = mine.empty() ? "" : mine[0];
            EXPECT_TRUE(modeOf(s.left) == before || modeOf(s.left) == after) << s.name << list;
            s.station = std::make_unique<Station>(s.name, rec.path);
            s.cleanUp = true;
            s.held = -1;
            ++kills;
        }
        for (const Slot& s : slots) {
            if (s.cleanUp && !s.left.empty())
                expected.insert(s.left);
            else if (!s.cleanUp && s.held >= 0)
                expected.insert(s.name + "#" + std::to_string(s.number) + ":" +
                                std::to_string(s.held) + ";");
        }
        ASSERT_EQ(listed, expected) << list;
    }
    EXPECT_GT(kills, 0);
    stress::Figure("openings asked", takes, "");
    stress::Figure("stations killed", kills, "");
    stress::Figure(
        "time", std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), "s");
    // The last clean-ups and releases leave no file behind.
    for (Slot& s : slots) {
        s.command = Command{s.cleanUp ? Op::RemoveEntries : Op::Release};
        apply(s, s.station->Call(s.command.op));
    }
    EXPECT_TRUE(rec.Clean());
}
