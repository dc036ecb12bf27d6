#include "CommActivity.h"

void CommActivity::Begin() {
    ++m_depth;
}

void CommActivity::End() {
    // An end without its beginning would hide a communication that still runs.
    if (m_depth == 0)
        return;
    if (--m_depth == 0)
        emit ended();
}
