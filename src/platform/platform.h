// Everything the core uses from the machine, passed in so that each test can bring its own.
#pragma once

#include "platform/application.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/http_client.h"
#include "platform/main_queue.h"
#include "platform/places.h"
#include "platform/process_launcher.h"

namespace lorvane {

// References to the services of one platform; they outlive the delegate that uses them.
struct Platform {
    MainQueue& queue;
    Clock& clock;
    HttpClient& http;
    ProcessLauncher& launcher;
    FileSystem& files;
    Places& places;
    ProcessEnvironmentSource& environment;
    Application& application;
};

}  // namespace lorvane
