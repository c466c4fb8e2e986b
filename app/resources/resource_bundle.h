// The program's resource bundle: one .qrc per folder under app/resources
// (qss/ with parts/ and dialog/, hlsl/, image/, shadow/, help/), compiled
// into zucam_app and reached as ":/qss/...", ":/image/..." and so on.
#pragma once

// Registers the bundle; safe to call more than once. ZuCam's constructor
// calls it; tests that build windows without ZuCam call it themselves.
void InitResourceBundle();
