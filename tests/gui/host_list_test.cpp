// The host list in the real main window: rows made by the engine's messages, cell texts and
// images, sorting by header clicks with per-column direction and kept selection, row colours,
// Delete Host, the context menu, the Goto commands and the fixed first column.
#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QImage>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <cstring>

#include "engine/vendor_table.h"
#include "tests/gui/frame_fixture.h"
#include "ui/commands.h"

namespace quorvane::test {
namespace {

class HostListTest : public FrameFixture {
protected:
    void ClickHeader(int column) {
        QHeaderView* header = hostList().header();
        const int x = header->sectionViewportPosition(column) + header->sectionSize(column) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    }
    void SelectRows(std::initializer_list<int> rows) {
        hostList().clearSelection();
        for (int r : rows) {
            hostList().selectionModel()->select(hostModel().index(r, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    QStringList SelectedAddresses() {
        QStringList out;
        for (int r : hostList().SelectedRows()) out << hostModel().cellText(r, kColAddress);
        return out;
    }
    // The model, the table's rowOrder and every host's row agree.
    void ExpectRowsConsistent() {
        const auto order = table->rowOrder();
        ASSERT_EQ(static_cast<size_t>(hostModel().rowCount()), order.size());
        for (int r = 0; r < hostModel().rowCount(); ++r) {
            EXPECT_EQ(hostModel().hostAt(r)->slotIndex, order[static_cast<size_t>(r)]) << "row " << r;
            EXPECT_EQ(hostModel().hostAt(r)->row, r);
        }
    }
};

TEST_F(HostListTest, EngineMessagesMakeRowsWithTheirCellsAndImages) {
    HostEntry& ws1 = Found({"192.168.5.20", "WS1", "OFFICE", "ALICE"});
    EXPECT_EQ(hostModel().rowCount(), 1);
    EXPECT_EQ(HostColumn(kColAddress), QStringList{QStringLiteral("192.168.5.20")});
    EXPECT_EQ(hostModel().cellText(0, kColGroup), QStringLiteral("OFFICE"));
    EXPECT_EQ(hostModel().cellText(0, kColHost), QStringLiteral("WS1"));
    EXPECT_EQ(hostModel().cellText(0, kColUser), QStringLiteral("ALICE"));
    EXPECT_EQ(hostModel().cellText(0, kColMac), QStringLiteral("00-11-22-33-44-55"));
    EXPECT_EQ(hostModel().cellText(0, kColFirstFound), QStringLiteral("Tue, 2023-11-14 22:13:20"));
    EXPECT_EQ(hostModel().cellText(0, kColShutdown), QString());
    EXPECT_EQ(hostModel().rowImage(0), 1) << "a new host is uncertain";
    EXPECT_TRUE(ws1.listed());

    now += 9;
    ws1.setState(HostState::Up);
    Post(WM_HOSTALIVE, ws1, 4);
    Deliver();
    EXPECT_EQ(hostModel().rowImage(0), 0);
    EXPECT_EQ(hostModel().cellText(0, kColStartup), QStringLiteral("Tue, 2023-11-14 22:13:29"));

    now += 60;
    ws1.setState(HostState::Down);
    Post(WM_HOSTDOWN, ws1, 4);
    Deliver();
    EXPECT_EQ(hostModel().rowImage(0), 2);
    EXPECT_EQ(hostModel().cellText(0, kColShutdown), QStringLiteral("Tue, 2023-11-14 22:14:29"));

    HostEntry& ws2 = Found({"192.168.5.3", "WS2"});
    Post(WM_HOSTMISSED, ws2, 1);
    Deliver();
    EXPECT_EQ(hostModel().rowCount(), 2);
    EXPECT_EQ(hostModel().cellText(1, kColHost), QStringLiteral("WS2"));
    EXPECT_EQ(hostModel().rowImage(1), 1);
    ExpectRowsConsistent();
    EXPECT_EQ(EventColumn(kEvColEvent).first(), QStringLiteral("Found New Host Name is WS2            "));
}

TEST_F(HostListTest, NameCellsKeepFifteenCharactersWithoutTrailingBlanks) {
    struct Case {
        const char* raw;  // 15 bytes
        const char* shown;
    };
    const Case cases[] = {
        {"ABCDEFGHIJKLMNO", "ABCDEFGHIJKLMNO"},
        {"WS1            ", "WS1"},
        {"A B            ", "A B"},
        {"               ", " "},
        {"X\0ZZZ          ", "X"},
    };
    for (const Case& c : cases) {
        NameField f{};
        std::memcpy(f.data(), c.raw, 15);
        EXPECT_EQ(HostNameCellText(f), std::string(c.shown)) << c.raw;
    }
    EXPECT_EQ(HostNameCellText(NameField{}), std::nullopt) << "an unknown name is not written";

    // A host that names no user leaves the cell empty; a later user-name change fills it.
    HostEntry& h = Found({"10.1.1.1", "LONGHOSTNAME123", "WORKGROUP", ""});
    EXPECT_EQ(hostModel().cellText(0, kColHost), QStringLiteral("LONGHOSTNAME123"));
    EXPECT_EQ(hostModel().cellText(0, kColUser), QString());
    EngineMessage m;
    m.message = WM_HOSTCHANGED;
    m.host = &h;
    m.changes.userName = MakeNbName("BOB");
    target->Post(std::move(m));
    Deliver();
    EXPECT_EQ(hostModel().cellText(0, kColUser), QStringLiteral("BOB"));
    EXPECT_EQ(EventColumn(kEvColEvent).first(),
              QStringLiteral("User Name changed from   ---->  BOB            "));
}

TEST_F(HostListTest, HeaderClicksSortAscendingThenDescendingAndKeepTheSelection) {
    for (const char* a : {"192.168.1.1", "10.0.0.1", "172.16.0.5", "10.0.0.20"}) Found({a, "H"});
    SelectRows({0, 2});  // 192.168.1.1 and 172.16.0.5
    ClickHeader(kColAddress);
    EXPECT_EQ(HostColumn(kColAddress), (Strings({"10.0.0.1", "10.0.0.20", "172.16.0.5", "192.168.1.1"})));
    EXPECT_EQ(SelectedAddresses(), (Strings({"172.16.0.5", "192.168.1.1"})));
    ExpectRowsConsistent();
    ClickHeader(kColAddress);
    EXPECT_EQ(HostColumn(kColAddress), (Strings({"192.168.1.1", "172.16.0.5", "10.0.0.20", "10.0.0.1"})));
    EXPECT_EQ(SelectedAddresses(), (Strings({"192.168.1.1", "172.16.0.5"})));
    ExpectRowsConsistent();

    // Each column keeps its own direction: A, then B, then A again sorts A descending.
    ClickHeader(kColAddress);  // ascending
    ClickHeader(kColHost);
    ClickHeader(kColAddress);
    EXPECT_EQ(hostList().sortDirection(kColAddress), 0);
    EXPECT_EQ(hostList().sortDirection(kColHost), 1);
    EXPECT_EQ(HostColumn(kColAddress).first(), QStringLiteral("192.168.1.1"));
    EXPECT_EQ(hostList().SortByColumn(128), 0);
    EXPECT_EQ(HostColumn(kColAddress).first(), QStringLiteral("192.168.1.1")) << "column 128 is ignored";
}

TEST_F(HostListTest, SortKeysComeFromTheHostRecords) {
    // Names by their 15 bytes (unsigned), MAC by its bytes, times with 0 first, vendors with
    // the hosts that have none first.
    BuildVendorNameOrder();
    const MacAddress noVendor{0xFE, 0x00, 0x00, 0x00, 0x00, 0x01};  // locally administered
    std::vector<MacAddress> vendorMacs;
    for (const MacAddress& m : {MacAddress{0x00, 0x00, 0x0C, 1, 2, 3}, MacAddress{0x00, 0x50, 0x56, 1, 2, 3},
                                MacAddress{0x08, 0x00, 0x27, 1, 2, 3}}) {
        if (LookupVendor(m)) vendorMacs.push_back(m);
    }
    ASSERT_GE(vendorMacs.size(), 2u) << "the vendor table lacks well-known prefixes";
    ASSERT_EQ(LookupVendor(noVendor), nullptr);

    HostSetup a{"10.0.0.1", "beta"};
    a.mac = vendorMacs[0];
    HostSetup b{"10.0.0.2", "Alpha"};
    b.mac = noVendor;
    HostSetup c{"10.0.0.3", "\xE9t\xE9"};
    c.mac = vendorMacs[1];
    for (const HostSetup& s : {a, b, c}) {
        HostEntry& h = Found(s);
        h.vendor = LookupVendor(h.mac);
    }
    now += 100;
    HostEntry& gone = *hostModel().hostAt(2);  // 10.0.0.3 went down
    gone.setState(HostState::Down);
    Post(WM_HOSTDOWN, gone, 4);
    Deliver();

    ClickHeader(kColHost);
    EXPECT_EQ(HostColumn(kColHost), (Strings({"Alpha", "beta", "\xE9t\xE9"})));
    ClickHeader(kColVendor);
    EXPECT_EQ(HostColumn(kColAddress).first(), QStringLiteral("10.0.0.2")) << "no vendor sorts first";
    {
        const HostEntry* first = hostModel().hostAt(1);
        const HostEntry* second = hostModel().hostAt(2);
        EXPECT_LT(first->vendor->nameRank, second->vendor->nameRank);
    }
    ClickHeader(kColVendor);
    EXPECT_EQ(HostColumn(kColAddress).last(), QStringLiteral("10.0.0.2")) << "and last descending";
    ClickHeader(kColShutdown);
    EXPECT_EQ(HostColumn(kColShutdown).last(), QStringLiteral("Tue, 2023-11-14 22:15:00"));
    EXPECT_EQ(HostColumn(kColShutdown).first(), QString()) << "never shut down sorts first";
    ClickHeader(kColMac);
    EXPECT_EQ(HostColumn(kColAddress).last(), QStringLiteral("10.0.0.2")) << "FE-... is the largest MAC";
    ClickHeader(kColStatus);
    EXPECT_EQ(HostColumn(kColAddress).first(), QStringLiteral("10.0.0.3")) << "Down (0) first";
    ExpectRowsConsistent();
}

TEST_F(HostListTest, DownHostsAreGreyAndRowsAlternateMintAndWhiteAfterSorting) {
    for (const char* a : {"10.0.0.3", "10.0.0.1", "10.0.0.2"}) Found({a, "H"}, true);
    HostEntry* down = hostModel().hostAt(1);
    down->setState(HostState::Down);
    // The whole row is redrawn when the host goes down, so every cell turns grey.
    QSignalSpy changed(&hostModel(), &QAbstractItemModel::dataChanged);
    Post(WM_HOSTDOWN, *down, 4);
    Deliver();
    bool wholeRow = false;
    for (const QList<QVariant>& args : changed) {
        const auto from = args[0].value<QModelIndex>(), to = args[1].value<QModelIndex>();
        wholeRow = wholeRow || (from.row() == 1 && to.row() == 1 && from.column() == 0 && to.column() == kHostColumnCount - 1);
    }
    EXPECT_TRUE(wholeRow);
    ClickHeader(kColAddress);
    const QColor mint(196, 255, 228);
    for (int r = 0; r < 3; ++r) {
        const QModelIndex i = hostModel().index(r, kColHost);
        EXPECT_EQ(hostModel().data(i, Qt::BackgroundRole).value<QBrush>().color(), r % 2 == 0 ? mint : QColor(Qt::white));
        const bool isDown = hostModel().hostAt(r) == down;
        EXPECT_EQ(hostModel().data(i, Qt::ForegroundRole).value<QBrush>().color(),
                  isDown ? QColor(98, 98, 98) : QColor(Qt::black));
    }
    EXPECT_EQ(hostModel().cellText(0, kColAddress), QStringLiteral("10.0.0.1"));

    // What is painted: row 0 mint, row 1 white (in an empty cell, nothing selected).
    hostList().clearSelection();
    hostList().setCurrentIndex({});
    Spin(20);
    const QImage shot = hostList().viewport()->grab().toImage();
    const int x = hostList().header()->sectionViewportPosition(kColDescription) + 30;
    const QRect row0 = hostList().visualRect(hostModel().index(0, kColDescription));
    const QRect row1 = hostList().visualRect(hostModel().index(1, kColDescription));
    const qreal dpr = shot.devicePixelRatio();
    EXPECT_EQ(QColor(shot.pixel(QPoint(x, row0.center().y()) * dpr)), mint);
    EXPECT_EQ(QColor(shot.pixel(QPoint(x, row1.center().y()) * dpr)), QColor(Qt::white));
}

TEST_F(HostListTest, DeleteHostRemovesTheSelectedRowsWithoutAskingAndTheyComeBackAsNew) {
    int dialogs = 0;
    SetModalHook([&](QDialog&) {
        ++dialogs;
        return 0;
    });
    std::vector<HostEntry*> hosts;
    for (const char* a : {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4"}) hosts.push_back(&Found({a, "H"}));
    SelectRows({0, 1, 3});
    frame->action(ID_DELETE_HOST)->trigger();
    EXPECT_EQ(dialogs, 0);
    EXPECT_FALSE(MessageBox::last().has_value());
    EXPECT_EQ(engine.tableEdits, 1);
    EXPECT_EQ(HostColumn(kColAddress), QStringList{QStringLiteral("10.0.0.3")});
    ExpectRowsConsistent();
    EXPECT_FALSE(hosts[0]->listed());
    EXPECT_NE(hosts[0]->ipv4(), 0u) << "the slot is kept";

    // The Delete key does the same from anywhere in the window.
    SelectRows({0});
    eventList().setFocus();
    QTest::keyClick(frame.get(), Qt::Key_Delete);
    EXPECT_EQ(hostModel().rowCount(), 0);

    // A deleted host that answers again is a new host.
    hosts[1]->setState(HostState::Answering);
    HostEntry::SetName15(hosts[1]->hostName, MakeNbName("BACK"));
    Post(WM_HOSTFOUND, *hosts[1]);
    Deliver();
    EXPECT_EQ(HostColumn(kColAddress), QStringList{QStringLiteral("10.0.0.2")});
    EXPECT_EQ(EventColumn(kEvColEvent).first(), QStringLiteral("Found New Host Name is BACK           "));
    ExpectRowsConsistent();
}

TEST_F(HostListTest, ContextMenuShowsWithoutSelectionAndItsCommandsThenDoNothing) {
    Found({"10.0.0.1", "H"});
    hostList().clearSelection();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(50, 150), hostList().viewport()->mapToGlobal(QPoint(50, 150)));
    QCoreApplication::sendEvent(hostList().viewport(), &event);
    QMenu* menu = hostList().contextMenu();
    ASSERT_TRUE(WaitUntil([&] { return menu->isVisible(); }));
    QStringList texts;
    for (QAction* a : menu->actions()) texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(texts, (Strings({"&Property", "&Delete Host\tDel", "-", "Goto the &First event",
                                  "Goto the &Last event", "Goto the &All event", "-",
                                  "Exp&ort items to file\tCtrl+O"})));
    menu->close();
    eventList().selectAll();
    hostList().action(ID_GOTO_LAST_EVENT)->trigger();
    hostList().action(ID_PROPERTY)->trigger();
    Spin(20);
    EXPECT_EQ(eventList().SelectedRows().size(), 1) << "no Goto without a selected host";
}

TEST_F(HostListTest, GotoCommandsSelectTheHostsEventsInTheEventList) {
    HostEntry& a = Found({"10.0.0.1", "A"}, true);  // found, alive
    Found({"10.0.0.2", "B"});                        // found
    HostEntry& c = Found({"10.0.0.3", "C"});
    a.setState(HostState::Down);
    Post(WM_HOSTDOWN, a, 4);  // a third event of A, now the newest
    Deliver();
    // Events top to bottom: A down, C found, B found, A alive, A found.
    ASSERT_EQ(eventModel().rowCount(), 5);
    SelectRows({0});
    hostList().action(ID_GOTO_FIRST_EVENT)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return eventList().SelectedRows() == QList<int>{0}; }));
    hostList().action(ID_GOTO_LAST_EVENT)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return eventList().SelectedRows() == QList<int>{4}; }));
    hostList().action(ID_GOTO_ALL_EVENT)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return eventList().SelectedRows() == (QList<int>{0, 3, 4}); }));
    EXPECT_EQ(eventList().currentIndex().row(), 4) << "the lowest is the one shown";
    EXPECT_TRUE(eventList().hasFocus());

    // A host without events: the selection is cleared and nothing else happens.
    frame->action(ID_CLEAR_ALL_EVENT)->trigger();
    Found({"10.0.0.9", "Z"});
    eventList().selectAll();
    ASSERT_EQ(eventList().SelectedRows(), QList<int>{0});
    SelectRows({2});  // C: its events were cleared
    ASSERT_EQ(hostModel().hostAt(2), &c);
    hostList().action(ID_GOTO_LAST_EVENT)->trigger();
    ASSERT_TRUE(WaitUntil([&] { return eventList().SelectedRows().isEmpty(); }));
    EXPECT_EQ(eventModel().rowCount(), 1);
}

TEST_F(HostListTest, TheStatusColumnCannotBeResizedTheOthersCan) {
    QHeaderView* header = hostList().header();
    EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Fixed);
    const auto& widths = HostListModel::ColumnWidths();
    EXPECT_EQ(header->sectionSize(0), 20);
    for (int c = 1; c < kHostColumnCount; ++c) {
        EXPECT_EQ(header->sectionSize(c), hostList().ColumnWidthForFont(widths[c])) << c;
        EXPECT_GE(header->sectionSize(c), widths[c]) << c;
    }
    EXPECT_EQ(hostModel().headerData(6, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral(" MAC Address"));

    auto drag = [&](int divider, int dx) {
        QWidget* vp = header->viewport();
        const QPoint from(divider - 1, header->height() / 2);
        QTest::mousePress(vp, Qt::LeftButton, {}, from);
        QMouseEvent move(QEvent::MouseMove, QPointF(from + QPoint(dx, 0)), vp->mapToGlobal(QPointF(from + QPoint(dx, 0))),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(vp, &move);
        QTest::mouseRelease(vp, Qt::LeftButton, {}, from + QPoint(dx, 0));
    };
    drag(header->sectionViewportPosition(1), 40);
    EXPECT_EQ(header->sectionSize(0), 20);
    const int before = header->sectionSize(1);
    drag(header->sectionViewportPosition(2), 40);
    EXPECT_EQ(header->sectionSize(1), before + 40);
}

}  // namespace
}  // namespace quorvane::test
