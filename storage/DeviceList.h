#pragma once
// Lists of owned polymorphic objects (devices, volume probes) held as raw pointers.
#include <vector>

// Deletes every element through its virtual destructor, then empties the list.
template <class T>
void DeleteDeviceList(std::vector<T*>& list) {
    for (T* item : list)
        delete item;
    list.clear();
    list.shrink_to_fit();
}
