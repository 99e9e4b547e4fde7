#pragma once
// The single-instance double: a previous instance that is there or not.

#include "core/services.h"

#include <QStringList>
#include <functional>

namespace platform
{

class FakeSingleInstance : public SingleInstance
{
public:
    bool previousInstance() override { return running; }
    bool handOver(const QString &path) override
    {
        handedOver << path;
        return reachable;
    }
    void acceptHandOvers(std::function<void(const QString &)> open) override { accept = open; }
    bool running = false;
    bool reachable = true;
    QStringList handedOver;
    std::function<void(const QString &)> accept;
};

} // namespace platform
