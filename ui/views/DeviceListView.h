#pragma once
// A page's device list as its controller sees it (the window is ui/views/wx/DeviceSelectCtrl,
// tests use CDeviceViewModel directly).
#include "ui/views/DeviceViewModel.h"

#include <string>

class IDeviceListView {
public:
    virtual ~IDeviceListView() = default;
    virtual void RemoveAllDevices() = 0;
    virtual void AddDevice(const DeviceListEntry& entry) = 0;
    virtual int GetSelectedIndex() const = 0;
    virtual void* GetDeviceData(int index) const = 0;
    // Selects a row without telling the page.
    virtual void SelectRow(int index) = 0;
    virtual int Count() const = 0;
    // A line the list shows under its rows (why it holds no disk); "" for none.
    virtual void SetNote(const std::string& text) = 0;
    virtual const std::string& Note() const = 0;
};

// A device list over a plain view model (no window).
class CModelDeviceListView : public IDeviceListView {
public:
    void RemoveAllDevices() override { model.RemoveAllDevices(); }
    void AddDevice(const DeviceListEntry& entry) override { model.AddDevice(entry); }
    int GetSelectedIndex() const override { return model.GetSelectedIndex(); }
    void* GetDeviceData(int index) const override { return model.GetDeviceData(index); }
    void SelectRow(int index) override { model.SelectRow(index); }
    int Count() const override { return model.Count(); }
    void SetNote(const std::string& text) override { note = text; }
    const std::string& Note() const override { return note; }
    CDeviceViewModel model;
    std::string note;
};
