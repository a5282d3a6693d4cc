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
    // Later photographs: rotated by 0.3 x MaxAngle .. MaxAngle degrees either way, shifted by
    // 0.25 x MaxShift .. MaxShift percent of the width, zoomed by up to MaxScale percent either way.
    double MaxAngle = 10;
    double MaxShift = 8;
    double MaxScale = 0;
    // Camera noise: Gaussian of this standard deviation in grey levels per channel; below 0 the
    // default, uniform over -3..3 levels (standard deviation 2).
    double Noise = -1;
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
    double Scale = 1;        // the camera's zoom about the image centre: the tooth looks Scale times larger
    double Gain = 1;         // lighting
    double RedArea = 0;      // percent of the image painted as plaque (filled in by rendering)
    double GreenArea = 0;    // percent of the image painted as clean enamel
};

// The first Teeth tooth numbers, taking the four quadrants in turn: 11, 21, 31, 41, 12, ...
std::vector<int32_t> DemoToothNumbers(int32_t Teeth);

// Every photograph of the study in tooth, then time order. The first time point of a tooth is the
// reference: no rotation, no shift, scale 1, gain 1. Later ones are rotated, shifted and zoomed
// within the limits of Options and lit with a gain of 0.85..1.15; a displacement that would push
// the crown out of the frame is drawn again (after 20 tries the shift is dropped). Time points of
// the first half go to the sub-folder "visit1", the rest to "visit2". Deterministic for a given
// Options.
std::vector<TDemoPhoto> PlanDemoStudy(const TDemoOptions& Options);

// The displacement of Photo as the parameters of the image core's Transform (angle in degrees,
// shifts in pixels with y up, scale), i.e. the transform that brings the photograph back onto its
// tooth's first photograph.
struct TDemoTransform {
    double Angle = 0, Shiftx = 0, Shifty = 0, Scale = 1;
};
TDemoTransform DemoTransform(const TDemoPhoto& Photo);

// Paints one photograph (Format_RGB32, Options.Width x Options.Height) and sets its RedArea and
// GreenArea. Throws std::runtime_error when the tooth would touch the edge of the frame (only
// possible with unusual sizes). Pure; any thread.
QImage RenderDemoPhoto(const TDemoOptions& Options, TDemoPhoto& Photo);
