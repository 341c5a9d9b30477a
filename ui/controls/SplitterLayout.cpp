#include "ui/controls/SplitterLayout.h"

#include <algorithm>

int SplitterLayout::Initial(int extent, int paneSum) {
    overhead = extent - paneSum;
    if (fixedPane == 0)
        return std::max(0, fixedSize);
    if (overhead > 0)
        return std::max(0, paneSum - fixedSize);
    return std::max(0, paneSum / 2);
}

int SplitterLayout::Resized(int extent, int firstPane) const {
    if (orientation == 0 || fixedPane == 0)
        return firstPane;
    return std::max(0, extent - fixedSize - overhead);
}

int SplitterLayout::Dragged(int extent, int firstPane) {
    if (orientation == 0)
        return firstPane;
    int result = firstPane;
    if (fixedPane == 0) {
        if (firstPane < minSize)
            result = minSize;
        else if (firstPane > maxSize)
            result = maxSize;
        fixedSize = result;
    } else {
        const int second = extent - overhead - firstPane;
        if (second < minSize)
            result = extent - overhead - minSize;
        else if (second > maxSize)
            result = extent - overhead - maxSize;
        else if (orientation == 1 && firstPane < 20)
            result = 20;
        result = std::max(0, result);
        fixedSize = std::max(0, extent - overhead - result);
    }
    return result;
}
