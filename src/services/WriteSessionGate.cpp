#include "services/WriteSessionGate.h"

WriteSessionGate& WriteSessionGate::shared() {
    static WriteSessionGate* instance = new WriteSessionGate;
    return *instance;
}

WriteSessionGate::WriteSessionGate(QObject* parent) : QObject(parent) {}

bool WriteSessionGate::tryAcquire(QObject* holder) {
    if (holder == nullptr) {
        return false;
    }
    if (m_holder) {
        return m_holder == holder;
    }
    m_holder = holder;
    m_destroyedConnection = connect(holder, &QObject::destroyed, this, [this, holder] { release(holder); });
    Q_EMIT changed();
    return true;
}

void WriteSessionGate::release(QObject* holder) {
    if (holder == nullptr || m_holder != holder) {
        return;
    }
    disconnect(m_destroyedConnection);
    m_destroyedConnection = {};
    m_holder = nullptr;
    Q_EMIT changed();
}

bool WriteSessionGate::isHeldByOther(const QObject* self) const {
    return m_holder != nullptr && m_holder != self;
}
