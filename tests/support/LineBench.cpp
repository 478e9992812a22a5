#include "support/LineBench.h"

namespace {
constexpr DWORD kCloseWaitMs = 15000;
}

void LineBench::StartUnit(bool open) {
    ASSERT_TRUE(m_unit.Start({m_port})) << m_unit.Error();
    if (open) {
        ASSERT_TRUE(m_line.Open(m_portName));
    }
}

std::string LineBench::ReceivedInAll() {
    if (m_line.IsOpen()) {
        const auto closes = [this] {
            return SimEquipment::CountEventLines(m_unit.Events(m_port), "close");
        };
        const int before = closes();
        m_line.Close();
        const DWORD start = ::GetTickCount();
        while (closes() <= before && ::GetTickCount() - start < kCloseWaitMs)
            ::Sleep(5);
        EXPECT_GT(closes(), before) << "the unit never saw the port close";
    }
    return m_unit.Received(m_port);
}
