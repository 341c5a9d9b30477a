#pragma once
// The warning shown as soon as a disk image is opened whose slice files are shorter than its
// blocks need (a copy broken off, a disk that filled up): the image is still listed, since
// what it holds reads as it should, but the user learns at once how much is gone.
class IStorageDevice;
class IUiServices;

// Shows the warning when `device` is a block image part of which is missing; nothing otherwise.
void WarnIfImageDataMissing(IUiServices& ui, IStorageDevice* device);
