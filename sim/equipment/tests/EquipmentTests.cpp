// Drives orvane-sim-equipment through its pty slaves, the way the updater
// does under Wine, and checks what it answers and what it records.
#include "TestSupport.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace simtest;

namespace {

const std::string kVer = "ver\r";

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values)
        s += static_cast<char>(v);
    return s;
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

SIM_TEST(replies, version_reply_and_raw_line) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    Slave port(sim.link(7));
    REQUIRE(port.isOpen());
    termios t{};
    REQUIRE(::tcgetattr(port.fd(), &t) == 0);
    CHECK(!(t.c_lflag & (ECHO | ICANON | ISIG)));
    CHECK(!(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP)));
    CHECK(!(t.c_oflag & OPOST));

    REQUIRE(port.write("junk" + kVer));
    CHECK(port.read(3, Millis(1000)) == bytes({0x01, 0x07}));
    REQUIRE(sim.configure(7, "reply=0D11130A") == "ok");
    REQUIRE(port.write("ve"));
    REQUIRE(port.write("r\r"));
    // CR, XON, XOFF and LF arrive unchanged: nothing in the line eats or maps them.
    CHECK(port.read(5, Millis(1000)) == bytes({0x0D, 0x11, 0x13, 0x0A}));
    CHECK(sim.received(7) == "junk" + kVer + kVer);
}

SIM_TEST(replies, silent_one_byte_split_delay) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    Slave port(sim.link(7));
    REQUIRE(sim.configure(7, "mode=silent") == "ok");
    REQUIRE(port.write(kVer));
    CHECK(port.read(1, Millis(400)).empty());
    CHECK(sim.received(7) == kVer);

    REQUIRE(sim.configure(7, "mode=one-byte\nreply=030C") == "ok");
    REQUIRE(port.write(kVer));
    CHECK(port.read(2, Millis(400)) == bytes({0x03}));

    REQUIRE(sim.configure(7, "mode=split\nreply=030C\nsplit_pause_ms=300") == "ok");
    auto start = Clock::now();
    REQUIRE(port.write(kVer));
    CHECK(port.read(2, Millis(150)) == bytes({0x03}));
    CHECK(port.read(1, Millis(1000)) == bytes({0x0C}));
    CHECK(secondsSince(start) >= 0.28);

    REQUIRE(sim.configure(7, "delay_ms=300") == "ok");
    start = Clock::now();
    REQUIRE(port.write(kVer));
    CHECK(port.read(2, Millis(1000)) == bytes({0x01, 0x07}));
    CHECK(secondsSince(start) >= 0.28);
}

SIM_TEST(replies, rejected_conf_keeps_behaviour) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    REQUIRE(sim.configure(7, "reply=0A0B") == "ok");
    CHECK(sim.configure(7, "mode=sleepy") == "error line 1: bad value for mode");
    CHECK(sim.configure(7, "replay=0102") == "error line 1: unknown key replay");
    CHECK(sim.configure(7, "reply=123") == "error line 1: bad value for reply");
    Slave port(sim.link(7));
    REQUIRE(port.write(kVer));
    CHECK(port.read(2, Millis(1000)) == bytes({0x0A, 0x0B}));
}

SIM_TEST(data, one_mebibyte_recorded_exactly) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    Slave port(sim.link(7));
    const std::string firmware = pattern(1 << 20);
    const auto start = Clock::now();
    REQUIRE(port.write("pgm\r" + firmware));
    const double written = secondsSince(start);
    REQUIRE(sim.waitReceived(7, firmware.size() + 4));
    std::printf("  1 MiB written in %.3f s, recorded %.1f ms after the write returned\n", written,
                (secondsSince(start) - written) * 1000);
    CHECK(sim.received(7) == "pgm\r" + firmware);
    // The "ver\r"s inside the firmware are data, not requests.
    CHECK(port.read(1, Millis(300)).empty());
    port.close();
    CHECK(sim.waitEvent(7, "close bytes=1048580 firmware=1048576"));
}

SIM_TEST(sessions, close_returns_to_command_state) {
    SimProcess sim({7, 8});
    REQUIRE(sim.ready());
    REQUIRE(sim.configure(8, "reply=0208") == "ok");
    for (int round = 0; round < 20; ++round) {
        // No pause between close and reopen: the close must not be missed.
        Slave port(sim.link(7));
        REQUIRE(port.write(kVer));
        CHECK(port.read(2, Millis(1000)).size() == 2);
        REQUIRE(port.write("pgm\r" + pattern(3000)));
        port.close();
        Slave again(sim.link(7));
        REQUIRE(again.write(kVer));
        CHECK(again.read(2, Millis(1000)) == bytes({0x01, 0x07}));
    }
    Slave other(sim.link(8));
    REQUIRE(other.write(kVer));
    CHECK(other.read(2, Millis(1000)) == bytes({0x02, 0x08}));
    CHECK(sim.received(8) == kVer);
    other.close();
    CHECK(sim.waitEvent(7, "close bytes=4 firmware=0"));
    CHECK(sim.received(7).size() == 20 * (4 + 4 + 3000 + 4));
}

SIM_TEST(restart, silent_while_restarting_then_the_new_or_the_old_version) {
    // updated_reply: the unit takes the firmware; without it, it keeps its old version.
    for (const auto& [conf, after] :
         {std::pair{std::string("reboot_ms=700\nupdated_reply=0108"), bytes({0x01, 0x08})},
          std::pair{std::string("reboot_ms=700"), bytes({0x01, 0x07})}}) {
        SimProcess sim({7});
        REQUIRE(sim.ready());
        REQUIRE(sim.configure(7, conf) == "ok");
        {
            // A session without firmware changes nothing.
            Slave asked(sim.link(7));
            REQUIRE(asked.write(kVer));
            CHECK(asked.read(2, Millis(1000)) == bytes({0x01, 0x07}));
        }
        REQUIRE(sim.waitEvent(7, "close bytes=4 firmware=0"));
        const auto sent = Clock::now();
        {
            Slave port(sim.link(7));
            REQUIRE(port.write("pgm\r" + pattern(3000)));
        }
        REQUIRE(sim.waitEvent(7, "close bytes=3004 firmware=3000"));
        Slave again(sim.link(7));
        REQUIRE(again.write(kVer));
        CHECK(again.read(2, Millis(300)).empty());
        std::string reply;
        while (reply.empty() && secondsSince(sent) < 3) {
            REQUIRE(again.write(kVer));
            reply = again.read(2, Millis(200));
        }
        CHECK(reply == after);
        CHECK(secondsSince(sent) >= 0.65);
    }
}

SIM_TEST(sessions, ended_pty_can_be_reopened_for_a_moment) {
    // A tool whose whole session passed before the program saw it open may
    // reopen the same pty; it gets a fresh session there, not a dead handle.
    SimProcess sim({7});
    REQUIRE(sim.ready());
    char target[256] = {};
    REQUIRE(::readlink(sim.link(7).c_str(), target, sizeof target - 1) > 0);
    {
        Slave port(target);
        REQUIRE(port.write("pgm\r1234"));
    }
    REQUIRE(sim.waitEvent(7, "close bytes=8 firmware=4"));
    Slave again(target);
    REQUIRE(again.write(kVer));
    CHECK(again.read(2, Millis(1000)) == bytes({0x01, 0x07}));
    again.close();
    CHECK(sim.waitEvent(7, "close bytes=4 firmware=0"));
}

SIM_TEST(sessions, last_writes_before_close_are_kept) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    const std::string data = "pgm\r" + pattern(60000);
    {
        Slave port(sim.link(7));
        REQUIRE(port.write(data));
        // Echo on, as a careless tool might leave it: the next session starts raw again.
        termios t{};
        ::tcgetattr(port.fd(), &t);
        t.c_lflag |= ECHO;
        ::tcsetattr(port.fd(), TCSANOW, &t);
    }
    CHECK(sim.waitEvent(7, "close bytes=60004"));
    CHECK(sim.received(7) == data);
    Slave port(sim.link(7));
    termios t{};
    ::tcgetattr(port.fd(), &t);
    CHECK(!(t.c_lflag & ECHO));
}

SIM_TEST(sessions, close_reports_the_xonxoff_the_tool_left) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    REQUIRE(sim.configure(7, "xonxoff=1") == "ok");
    const auto session = [&](bool putBack) {
        Slave port(sim.link(7));
        termios found{};
        ::tcgetattr(port.fd(), &found);
        CHECK(found.c_iflag & IXON);
        termios raw = found;
        raw.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
        ::tcsetattr(port.fd(), TCSANOW, &raw);
        REQUIRE(port.write(kVer));
        CHECK(port.read(2, Millis(1000)).size() == 2);
        if (putBack)
            ::tcsetattr(port.fd(), TCSANOW, &found);
    };
    session(true);
    CHECK(sim.waitEvent(7, "close bytes=4 firmware=0 xonxoff=1"));
    session(false);
    CHECK(sim.waitEvent(7, "close bytes=4 firmware=0 xonxoff=0"));
}

SIM_TEST(stall, writer_blocks_until_released) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    REQUIRE(sim.configure(7, "mode=stall\nstall_after=4") == "ok");
    Slave port(sim.link(7), true);
    REQUIRE(port.write(kVer));
    CHECK(port.read(2, Millis(1000)) == bytes({0x01, 0x07}));
    const std::string chunk(4096, 'x');
    std::size_t accepted = 0;
    int error = 0;
    for (int i = 0; i < 256 && error == 0; ++i) {
        ssize_t n = ::write(port.fd(), chunk.data(), chunk.size());
        if (n < 0)
            error = errno;
        else
            accepted += static_cast<std::size_t>(n);
    }
    std::printf("  stalled after %zu bytes buffered\n", accepted);
    CHECK(error == EAGAIN);
    std::this_thread::sleep_for(Millis(200));
    CHECK(sim.received(7) == kVer);

    REQUIRE(sim.configure(7, "mode=normal") == "ok");
    CHECK(sim.waitReceived(7, 4 + accepted));
    CHECK(sim.received(7).size() == 4 + accepted);
}

SIM_TEST(stall, blocking_write_does_not_return) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    REQUIRE(sim.configure(7, "mode=stall") == "ok");
    Slave port(sim.link(7));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        port.write(std::string(1 << 20, 'y'));
        done = true;
    });
    std::this_thread::sleep_for(Millis(500));
    CHECK(!done);
    CHECK(sim.received(7).empty());
    REQUIRE(sim.configure(7, "mode=normal") == "ok");
    CHECK(waitUntil([&] { return done.load(); }, Millis(3000)));
    writer.join();
    CHECK(sim.waitReceived(7, 1 << 20));
}

SIM_TEST(hangup, writes_fail_and_conf_change_reconnects) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    REQUIRE(sim.configure(7, "mode=hangup\nhangup_after=10") == "ok");
    Slave port(sim.link(7));
    REQUIRE(port.write(kVer));
    CHECK(port.read(2, Millis(1000)) == bytes({0x01, 0x07}));
    int error = 0;
    for (int i = 0; i < 100 && error == 0; ++i) {
        if (::write(port.fd(), "0123456789", 10) < 0)
            error = errno;
        std::this_thread::sleep_for(Millis(5));
    }
    CHECK(error == EIO);
    CHECK(sim.received(7) == kVer + "012345");
    CHECK(sim.waitEvent(7, "hangup"));
    struct stat st {};
    CHECK(::stat(sim.link(7).c_str(), &st) != 0); // the link dangles, as after an unplug

    REQUIRE(sim.configure(7, "mode=normal") == "ok");
    Slave back(sim.link(7));
    REQUIRE(back.isOpen());
    REQUIRE(back.write(kVer));
    CHECK(back.read(2, Millis(1000)) == bytes({0x01, 0x07}));

    REQUIRE(sim.configure(7, "mode=hangup") == "ok");
    CHECK(!Slave(sim.link(7)).isOpen());
}

SIM_TEST(paced, rate_matches_the_line) {
    SimProcess sim({7});
    REQUIRE(sim.ready());
    REQUIRE(sim.configure(7, "mode=paced") == "ok");
    Slave port(sim.link(7));
    const std::size_t total = 200 * 1024;
    const auto start = Clock::now();
    std::thread writer([&] { port.write(std::string(total, 'z')); });
    // Sample the recording; no stretch of half a second may beat the line by
    // much (a late wake-up is made up, by design, but only 20 ms of it).
    std::vector<std::pair<double, std::size_t>> samples;
    while (samples.empty() || samples.back().second < total) {
        struct stat st {};
        ::stat(sim.stateFile("port7.rx").c_str(), &st);
        samples.emplace_back(secondsSince(start), static_cast<std::size_t>(st.st_size));
        if (samples.back().first > 10)
            break;
        std::this_thread::sleep_for(Millis(5));
    }
    writer.join();
    const double elapsed = samples.back().first;
    const double rate = static_cast<double>(samples.back().second) / elapsed;
    double fastest = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        for (std::size_t j = i + 1; j < samples.size(); ++j) {
            const double span = samples[j].first - samples[i].first;
            if (span >= 0.5) {
                fastest = std::max(fastest, (samples[j].second - samples[i].second) / span);
                break;
            }
        }
    }
    std::printf("  200 KiB in %.3f s: %.0f B/s overall, %.0f B/s fastest 500 ms\n", elapsed, rate,
                fastest);
    CHECK(sim.received(7).size() == total);
    // Never faster than the line; a loaded machine may make it a little slower.
    CHECK(rate > 46080 * 0.92 && rate < 46080 * 1.03);
    CHECK(fastest < 46080 * 1.08);
}

SIM_TEST(lifecycle, stop_file_removes_links) {
    SimProcess sim({7, 9});
    REQUIRE(sim.ready());
    char target[256] = {};
    CHECK(::readlink(sim.link(9).c_str(), target, sizeof target - 1) > 0);
    CHECK(std::string(target).rfind("/dev/pts/", 0) == 0);
    std::fclose(std::fopen(sim.stateFile("stop").c_str(), "w"));
    CHECK(sim.waitExit(Millis(2000)) == 0);
    CHECK(readFile(sim.stateFile("exited")) == "stop\n");
    struct stat st {};
    CHECK(::lstat(sim.link(7).c_str(), &st) != 0);
    CHECK(::lstat(sim.link(9).c_str(), &st) != 0);
}

SIM_TEST(lifecycle, signal_parent_watch_file_lifetime) {
    {
        SimProcess sim({7});
        REQUIRE(sim.ready());
        ::kill(sim.pid(), SIGTERM);
        CHECK(sim.waitExit(Millis(2000)) == 0);
        CHECK(readFile(sim.stateFile("exited")) == "signal 15\n");
    }
    {
        pid_t parent = ::fork();
        if (parent == 0) {
            ::pause();
            ::_exit(0);
        }
        SimProcess sim({7}, {"--parent-pid", std::to_string(parent)});
        REQUIRE(sim.ready());
        ::kill(parent, SIGKILL);
        ::waitpid(parent, nullptr, 0);
        CHECK(sim.waitExit(Millis(2000)) == 0);
        CHECK(readFile(sim.stateFile("exited")) == "parent\n");
    }
    {
        const std::string alive = "/tmp/simeq-test-alive." + std::to_string(::getpid());
        int holder = ::open(alive.c_str(), O_CREAT | O_RDWR, 0644);
        SimProcess sim({7}, {"--watch-file", alive});
        REQUIRE(sim.ready());
        std::this_thread::sleep_for(Millis(100));
        CHECK(!sim.waitExit(Millis(0)));
        ::close(holder);
        CHECK(sim.waitExit(Millis(2000)) == 0);
        CHECK(readFile(sim.stateFile("exited")) == "watch-file\n");
        ::unlink(alive.c_str());
    }
    {
        SimProcess sim({7}, {"--lifetime", "1"});
        REQUIRE(sim.ready());
        CHECK(sim.waitExit(Millis(2500)) == 0);
        CHECK(readFile(sim.stateFile("exited")) == "lifetime\n");
    }
}

SIM_TEST(lifecycle, bad_command_lines_are_refused) {
    const auto exitCode = [](std::vector<std::string> args) {
        args.insert(args.begin(), g_binary);
        const pid_t pid = spawn(std::move(args));
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string state = "/tmp/simeq-test-state." + std::to_string(::getpid());
    CHECK(exitCode({}) == 2);
    CHECK(exitCode({state, "/tmp"}) == 2);
    CHECK(exitCode({state, "/tmp", "0"}) == 2);
    CHECK(exitCode({state, "/tmp", "7", "7"}) == 2);
    CHECK(exitCode({"--bogus", "1", state, "/tmp", "7"}) == 2);
    CHECK(exitCode({state, "/nonexistent", "7"}) == 1);
    CHECK(readFile(state + "/failed") == "no directory /nonexistent\n");
    CHECK(readFile(state + "/exited") == "failed\n");
    std::filesystem::remove_all(state);
}
