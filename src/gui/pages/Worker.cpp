#include "gui/pages/Worker.h"

CWorker::~CWorker() {
    Abandon();
}

void CWorker::Abandon() {
    m_bAbandoned.store(true);
    if (m_thread.joinable()) {
        m_thread.join();
    }
    ++m_nJob;
    m_bBusy = false;
}
