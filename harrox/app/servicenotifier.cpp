#include "servicenotifier.h"

#include <systemd/sd-daemon.h>

void ServiceNotifier::ready()
{
    sd_notify(0, "READY=1");
}

void ServiceNotifier::reloading()
{
    sd_notify(0, "RELOADING=1");
}

void ServiceNotifier::stopping()
{
    sd_notify(0, "STOPPING=1");
}

void ServiceNotifier::status(const QString &text)
{
    sd_notify(0, ("STATUS=" + text.toUtf8()).constData());
}
