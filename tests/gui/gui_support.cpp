#include "tests/gui/gui_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QTest>

#include <cstdlib>
#include <memory>

#include "platform/net.h"

namespace quorvane::test {

namespace {

QMutex g_complaintsMutex;
QStringList g_complaints;
QtMessageHandler g_previousHandler = nullptr;

void CollectModelComplaints(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const bool fromTester = context.category && QByteArray(context.category) == "qt.modeltest";
    if (fromTester || (type >= QtWarningMsg && message.contains(QStringLiteral("QAbstractItemModel")))) {
        QMutexLocker lock(&g_complaintsMutex);
        g_complaints.append(message);
    }
    if (g_previousHandler) g_previousHandler(type, context, message);
}

// The one QApplication of the test program, made before the first test and gone after the last.
class QtEnvironment final : public testing::Environment {
public:
    void SetUp() override {
        if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
        g_previousHandler = qInstallMessageHandler(CollectModelComplaints);
        app_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override {
        app_.reset();
        qInstallMessageHandler(g_previousHandler);
    }

private:
    int argc_ = 1;
    char name_[32] = "quorvane_gui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

testing::Environment* const g_qtEnvironment = testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(1);
    }
    return true;
}

void Spin(int ms) { QTest::qWait(ms); }

QStringList TakeModelTesterComplaints() {
    QMutexLocker lock(&g_complaintsMutex);
    QStringList out;
    out.swap(g_complaints);
    return out;
}

QStringList Strings(std::initializer_list<const char*> texts) {
    QStringList out;
    for (const char* t : texts) out << QString::fromLatin1(t);
    return out;
}

uint32_t Address(const std::string& dotted) {
    auto a = ParseIpv4(dotted);
    EXPECT_TRUE(a.has_value()) << dotted;
    return a.value_or(0);
}

HostEntry& AddSlot(HostTable& table, const HostSetup& setup) {
    const uint32_t address = Address(setup.address);
    std::vector<IpSegment> segments(1);
    segments[0].first = segments[0].end = address;
    table.ApplySegments(segments, 0, 1);
    HostEntry* host = nullptr;
    for (uint32_t i = 0; i < table.highWater(); ++i) {
        if (table.slot(i).ipv4() == address) host = &table.slot(i);
    }
    EXPECT_NE(host, nullptr) << setup.address;
    if (!host) return table.slot(0);
    std::lock_guard lock(table.mutex());
    if (!setup.hostName.empty()) HostEntry::SetName15(host->hostName, MakeNbName(setup.hostName));
    if (!setup.group.empty()) HostEntry::SetName15(host->groupName, MakeNbName(setup.group));
    if (!setup.user.empty()) HostEntry::SetName15(host->userName, MakeNbName(setup.user));
    host->mac = setup.mac;
    host->setState(HostState::Answering);
    host->setFlagBits(kHostStartupPending, true);
    return *host;
}

}  // namespace quorvane::test
