#include "gui/TQueueBridge.h"

#include "platform/Windows.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <stdexcept>

TQueueBridge::TQueueBridge(QObject* Parent) : QObject(Parent) {
    const int Fd = platform::QueueFd();
    if (Fd < 0) throw std::runtime_error("The message queue of the window's thread could not be created");
    FNotifier = std::make_unique<QSocketNotifier>(Fd, QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, [] { platform::DispatchPendingMessages(); });
    platform::SetEventHook([this] { RunQtEvents(); });
}

TQueueBridge::~TQueueBridge() {
    platform::SetEventHook({});
}

void TQueueBridge::RunQtEvents() {
    // The pump that calls this has just dispatched the queue itself; the notifier stays quiet meanwhile,
    // so a notification is never dispatched from inside the pump's own dispatch.
    const bool WasEnabled = FNotifier->isEnabled();
    FNotifier->setEnabled(false);
    QCoreApplication::processEvents();
    FNotifier->setEnabled(WasEnabled);
}
