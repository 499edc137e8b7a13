// The event list in the real main window: newest at the top (also after sorting), the sort keys
// and directions, Next and Previous, Clear All, the dispatcher hook, and the double click that
// shows the host in the host list.
#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <QHeaderView>
#include <QTest>

#include "tests/gui/frame_fixture.h"
#include "ui/commands.h"

namespace quorvane::test {
namespace {

class EventListTest : public FrameFixture {
protected:
    void ClickHeader(int column) {
        QHeaderView* header = eventList().header();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }
    void SelectEvent(int row) {
        eventList().selectionModel()->setCurrentIndex(eventModel().index(row, 0),
                                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void DoubleClickEvent(int row) {
        SelectEvent(row);
        eventList().scrollTo(eventModel().index(row, 0));
        const QRect rect = eventList().visualRect(eventModel().index(row, 0));
        // A double click is a press, a release, then the double-click press on the same row.
        QTest::mouseClick(eventList().viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(eventList().viewport(), Qt::LeftButton, {}, rect.center());
    }
};

TEST_F(EventListTest, NewestEventsAreOnTopAlsoAfterSorting) {
    Found({"192.168.1.1", "A"});
    now += 10;
    Found({"10.0.0.1", "B"});
    now += 10;
    Found({"172.16.0.1", "C"});
    EXPECT_EQ(EventColumn(kEvColAddress), (Strings({"172.16.0.1", "10.0.0.1", "192.168.1.1"})));
    EXPECT_EQ(EventColumn(kEvColTime).first(), QStringLiteral("Tue, 2023-11-14 22:13:40"));
    EXPECT_EQ(eventModel().data(eventModel().index(0, 0), Qt::DecorationRole).typeId(), QMetaType::QIcon);

    ClickHeader(kEvColAddress);
    EXPECT_EQ(EventColumn(kEvColAddress), (Strings({"10.0.0.1", "172.16.0.1", "192.168.1.1"})));
    ClickHeader(kEvColAddress);
    EXPECT_EQ(EventColumn(kEvColAddress), (Strings({"192.168.1.1", "172.16.0.1", "10.0.0.1"})));
    ClickHeader(kEvColAddress);
    EXPECT_EQ(EventColumn(kEvColAddress).first(), QStringLiteral("10.0.0.1"));

    ClickHeader(kEvColTime);  // oldest first
    EXPECT_EQ(EventColumn(kEvColAddress), (Strings({"192.168.1.1", "10.0.0.1", "172.16.0.1"})));
    now += 10;
    Found({"10.9.9.9", "D"});
    EXPECT_EQ(EventColumn(kEvColAddress).first(), QStringLiteral("10.9.9.9")) << "a new event goes to the top";

    ClickHeader(kEvColEvent);  // text, byte-wise: "Found New Host Name is A..." first
    EXPECT_EQ(EventColumn(kEvColEvent).first(), QStringLiteral("Found New Host Name is A              "));
}

TEST_F(EventListTest, SortingKeepsEachEventsSelection) {
    Found({"10.0.0.3", "A"});
    Found({"10.0.0.1", "B"});
    Found({"10.0.0.2", "C"});
    SelectEvent(0);  // C, 10.0.0.2
    ClickHeader(kEvColAddress);
    EXPECT_EQ(eventList().SelectedRows(), QList<int>{1});
    EXPECT_EQ(eventList().currentIndex().row(), 1);
}

TEST_F(EventListTest, NextAndPreviousStepBetweenOneHostsEvents) {
    HostEntry& a = Found({"10.0.0.1", "A"}, true);
    Found({"10.0.0.2", "B"});
    a.setState(HostState::Down);
    Post(WM_HOSTDOWN, a, 4);
    Deliver();
    // Top to bottom: A down, B found, A alive, A found.
    SelectEvent(0);
    eventList().action(ID_GOTO_NEXT_EVENT)->trigger();
    EXPECT_EQ(eventList().SelectedRows(), QList<int>{2});
    eventList().action(ID_GOTO_NEXT_EVENT)->trigger();
    EXPECT_EQ(eventList().SelectedRows(), QList<int>{3});
    eventList().action(ID_GOTO_NEXT_EVENT)->trigger();
    EXPECT_EQ(eventList().SelectedRows(), QList<int>{3}) << "at A's bottom-most event nothing changes";
    // Ctrl+E (Previous) reaches the event list from anywhere in the window.
    hostList().setFocus();
    QTest::keyClick(frame.get(), Qt::Key_E, Qt::ControlModifier);
    EXPECT_EQ(eventList().SelectedRows(), QList<int>{2});
    QTest::keyClick(frame.get(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(eventList().SelectedRows(), QList<int>{3});
    eventList().clearSelection();
    eventList().action(ID_GOTO_PREVIOUS_EVENT)->trigger();
    EXPECT_TRUE(eventList().SelectedRows().isEmpty());
}

TEST_F(EventListTest, ClearAllEmptiesTheListAndLaterEventsStartAtTheTop) {
    Found({"10.0.0.1", "A"});
    Found({"10.0.0.2", "B"});
    eventList().setFocus();
    QTest::keyClick(frame.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(eventModel().rowCount(), 0);
    Found({"10.0.0.3", "C"});
    Found({"10.0.0.4", "D"});
    EXPECT_EQ(EventColumn(kEvColAddress), (Strings({"10.0.0.4", "10.0.0.3"})));
    QStringList menu;
    for (QAction* a : eventList().contextMenu()->actions()) menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(menu, (Strings({"&Clear All event \tCtrl+C", "-", "Goto the &Next event", "Goto the Pr&evious event"})));
}

TEST_F(EventListTest, EveryEventIsShownBeforeItIsDispatched) {
    std::vector<std::pair<std::string, int>> dispatched;  // text, rows at dispatch time
    frame->SetDispatcher([&](const MonitorEvent& e) { dispatched.emplace_back(e.text, eventModel().rowCount()); });
    HostEntry& a = Found({"10.0.0.1", "A"}, true);
    EngineMessage m;
    m.message = WM_HOSTCHANGED;
    m.host = &a;
    m.changes.hostName = MakeNbName("A2");
    m.changes.mac = MacAddress{0xFE, 1, 2, 3, 4, 5};
    target->Post(std::move(m));
    Deliver();
    ASSERT_EQ(dispatched.size(), 4u);
    EXPECT_EQ(dispatched[0], std::make_pair(std::string("Found New Host Name is A              "), 1));
    EXPECT_EQ(dispatched[1].first, "Host is alive of A              ");
    EXPECT_EQ(dispatched[2].first, "Host Name changed from A                ---->  A2             ");
    EXPECT_EQ(dispatched[3], std::make_pair(std::string("MAC Address changed from 00-11-22-33-44-55  ---->  FE-01-02-03-04-05"), 4));
    EXPECT_EQ(hostModel().cellText(0, kColHost), QStringLiteral("A2"));
    EXPECT_EQ(hostModel().cellText(0, kColMac), QStringLiteral("FE-01-02-03-04-05"));
}

TEST_F(EventListTest, DoubleClickShowsTheHostInTheHostListUnlessItWasDeleted) {
    std::vector<HostEntry*> hosts;
    for (int i = 1; i <= 60; ++i) hosts.push_back(&Found({"10.0.1." + std::to_string(i), "H" + std::to_string(i)}));
    // Events top to bottom: H60 ... H1. The event of H1 is the last; its host is row 0.
    hostList().selectionModel()->setCurrentIndex(hostModel().index(59, 0), QItemSelectionModel::ClearAndSelect |
                                                                                QItemSelectionModel::Rows);
    DoubleClickEvent(59);
    ASSERT_TRUE(WaitUntil([&] { return hostList().SelectedRows() == QList<int>{0}; }));
    EXPECT_EQ(hostList().currentIndex().row(), 0);
    EXPECT_TRUE(hostList().hasFocus());
    EXPECT_TRUE(hostList().viewport()->rect().intersects(hostList().visualRect(hostModel().index(0, 0))));

    // The host of event 0 (H60) is deleted: its event selects nothing.
    hostList().selectionModel()->setCurrentIndex(hostModel().index(59, 0), QItemSelectionModel::ClearAndSelect |
                                                                                QItemSelectionModel::Rows);
    frame->action(ID_DELETE_HOST)->trigger();
    hostList().selectionModel()->setCurrentIndex(hostModel().index(3, 0), QItemSelectionModel::ClearAndSelect |
                                                                               QItemSelectionModel::Rows);
    DoubleClickEvent(0);
    Spin(30);
    EXPECT_EQ(hostList().SelectedRows(), QList<int>{3});
}

}  // namespace
}  // namespace quorvane::test
