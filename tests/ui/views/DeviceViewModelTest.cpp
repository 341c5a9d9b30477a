#include "ui/views/DeviceViewModel.h"

#include <gtest/gtest.h>

namespace {

int a, b, c;

CDeviceViewModel ThreeRows() {
    CDeviceViewModel m;
    m.AddDevice({kDeviceKindDisk, "Disk 0", 2048, "one line", &a});
    m.AddDevice({kDeviceKindVolume, "C:", 0, "two\r\nlines\r\nthree", &b});
    m.AddDevice({kDeviceKindUsb, "USB", 1u << 20, "", &c});
    return m;
}

} // namespace

TEST(DeviceViewModel, RowsCellsAndHeights) {
    CDeviceViewModel m = ThreeRows();
    ASSERT_EQ(m.Count(), 3);
    EXPECT_EQ(m.Row(0).height, 62);                  // picture 52 + 10
    EXPECT_EQ(m.Row(0).cells[1].text, "1024.00 KB");
    EXPECT_EQ(m.Row(1).cells[1].text, "");           // sector count 0: empty capacity
    EXPECT_EQ(m.Row(1).height, 62);                  // three lines of 17 still fit
    EXPECT_EQ(m.Row(1).top, 62);
    EXPECT_EQ(m.Row(2).cells[0].bitmapKind, kDeviceKindUsb);
    EXPECT_EQ(m.ScrollWidth(), 250 + 150 + 240);
    EXPECT_EQ(m.ScrollHeight(), 3 * 62);

    CDeviceViewModel tall;
    tall.AddDevice({9, "odd kind", 0, "1\n2\n3\n4\n5", nullptr});
    EXPECT_EQ(tall.Row(0).cells[0].bitmapKind, -1);
    EXPECT_EQ(tall.Row(0).height, 5 * 17);            // taller than 62 once the lines need it
}

TEST(DeviceViewModel, CapacityOfLargeDisksIsNotCut) {
    CDeviceViewModel m;
    m.AddDevice({kDeviceKindDisk, "big", 4ull * 1024 * 1024 * 1024 * 2, "", nullptr});  // 4 TiB
    EXPECT_EQ(m.Row(0).cells[1].text, "4096.00 GB");  // a 32-bit count would lose it
}

TEST(DeviceViewModel, InputTable) {
    enum Op { Click, ClickEmpty, Double, RightUp, Up, Down };
    struct Step {
        Op op;
        int row;  // clicked row
        DeviceViewMessage message;
        int selected;
    };
    const std::vector<std::vector<Step>> scripts = {
        {{Double, 0, kDeviceMsgNone, -1}, {RightUp, 0, kDeviceMsgNone, -1}, {Up, 0, kDeviceMsgNone, -1},
         {Down, 0, kDeviceMsgNone, -1}},                                          // nothing selected
        {{Click, 1, kDeviceMsgSelected, 1}, {Click, 1, kDeviceMsgNone, 1},        // second click: no message
         {ClickEmpty, 0, kDeviceMsgNone, 1},                                      // below the last row
         {Double, 0, kDeviceMsgDoubleClick, 1}, {RightUp, 0, kDeviceMsgRightUp, 1}},
        {{Click, 0, kDeviceMsgSelected, 0}, {Up, 0, kDeviceMsgNone, 0}, {Down, 0, kDeviceMsgNone, 1},
         {Down, 0, kDeviceMsgNone, 2}, {Down, 0, kDeviceMsgNone, 2}, {Up, 0, kDeviceMsgNone, 1},
         {Click, 2, kDeviceMsgSelected, 2}},
    };
    for (std::size_t s = 0; s < scripts.size(); ++s) {
        CDeviceViewModel m = ThreeRows();
        for (const Step& st : scripts[s]) {
            DeviceViewMessage msg = kDeviceMsgNone;
            switch (st.op) {
            case Click: msg = m.ButtonDown(10, m.Row(st.row).top + 5); break;
            case ClickEmpty: msg = m.ButtonDown(10, m.ScrollHeight() + 20); break;
            case Double: msg = m.DoubleClick(); break;
            case RightUp: msg = m.RightButtonUp(); break;
            case Up: m.KeyUp(); break;
            case Down: m.KeyDown(); break;
            }
            EXPECT_EQ(msg, st.message) << "script " << s;
            EXPECT_EQ(m.GetSelectedIndex(), st.selected) << "script " << s;
        }
    }
}

TEST(DeviceViewModel, IndexEdgesAndColumnDrag) {
    CDeviceViewModel m = ThreeRows();
    EXPECT_EQ(m.GetDeviceData(-1), nullptr);
    EXPECT_EQ(m.GetDeviceData(3), nullptr);
    EXPECT_EQ(m.GetDeviceData(1), &b);
    m.DeleteDevice(-1);
    m.DeleteDevice(3);
    EXPECT_EQ(m.Count(), 3);
    EXPECT_FALSE(m.SelectRow(3));
    m.DeleteDevice(0);
    EXPECT_EQ(m.Row(0).top, 0);
    EXPECT_EQ(m.Row(1).top, 62);
    EXPECT_EQ(m.ColumnResized(1, 300), 250 + 300 + 240);
    for (int i = 0; i < m.Count(); ++i)
        EXPECT_EQ(m.Row(i).cells[1].width, 300);
    EXPECT_EQ(m.ScrollWidth(), 790);
    // Scrolling a row into a 100-pixel view.
    EXPECT_EQ(m.ScrollIntoView(1, 0, 100), 124 - 100);
    EXPECT_EQ(m.ScrollIntoView(0, 50, 100), 0);
    EXPECT_EQ(m.ScrollIntoView(0, 0, 100), 0);
    m.SelectRow(1);
    m.ClearSelection();
    EXPECT_EQ(m.GetSelectedIndex(), -1);
    m.RemoveAllDevices();
    EXPECT_EQ(m.ScrollWidth(), 0);
}
