// A synthetic study that looks like fluorescence photographs of teeth: a dark background, a dim
// gum band, clean enamel glowing green and plaque glowing red. Every photograph is painted from an
// exact scene, so the share of plaque and enamel pixels is known and the analysis can be checked
// against it.
#pragma once

#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

struct TDemoOptions {
    int32_t Teeth = 4;       // 1 .. 32 (the dog's tooth numbers 11..48 without 19, 20, ...)
    int32_t TimePoints = 3;  // 1 .. 999
    int32_t Width = 640;
    int32_t Height = 480;
    uint32_t Seed = 20261210;
};

// How one photograph is made, and its answer.
struct TDemoPhoto {
    int32_t ToothIndex = 0;  // 0 .. Teeth - 1
    int32_t Tooth = 0;       // tooth number
    int32_t TimePoint = 0;
    QString File;            // relative to the study folder: sub-folder/name.bmp
    double Angle = 0;        // the camera's rotation about the image centre, degrees
    double Shiftx = 0;       // the camera's shift, pixels (y down)
    double Shifty = 0;
    double Gain = 1;         // lighting
    double RedArea = 0;      // percent of the image painted as plaque (filled in by rendering)
    double GreenArea = 0;    // percent of the image painted as clean enamel
};

// The first Teeth tooth numbers, taking the four quadrants in turn: 11, 21, 31, 41, 12, ...
std::vector<int32_t> DemoToothNumbers(int32_t Teeth);

// Every photograph of the study in tooth, then time order. The first time point of a tooth is the
// reference: no rotation, no shift, gain 1. Later ones are rotated by 3..10 degrees, shifted by up
// to 8% of the width and lit with a gain of 0.85..1.15. Time points of the first half go to the
// sub-folder "visit1", the rest to "visit2". Deterministic for a given Options.
std::vector<TDemoPhoto> PlanDemoStudy(const TDemoOptions& Options);

// Paints one photograph (Format_RGB32, Options.Width x Options.Height) and sets its RedArea and
// GreenArea. Throws std::runtime_error when the tooth would touch the edge of the frame (only
// possible with unusual sizes). Pure; any thread.
QImage RenderDemoPhoto(const TDemoOptions& Options, TDemoPhoto& Photo);
