// The application's base: SingleApplication with the arguments the program
// always uses (secondaries allowed, user-scoped, announcing, 1 s time-out).
#pragma once

#include "core/single_application/single_application.h"

class SingleApplicationWrapper : public SingleApplication {
    Q_OBJECT

public:
    // 7: the unnamed bit 2 has no effect but is kept so the value stays 7.
    static constexpr int kOptions =
        SingleApplication::UserScoped | 2 | SingleApplication::NotifyPrimaryOnSecondary;
    static constexpr int kTimeoutMs = 1000;

    SingleApplicationWrapper(int& argc, char** argv)
        : SingleApplication(argc, argv, true, kOptions, kTimeoutMs) {}
};
