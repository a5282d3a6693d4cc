// Speed and quality of the SLIC library against OpenCV's SLIC, side by side on the same pixels.
//
// Families (K = 400, compactness 20, one thread):
//   SLIC/<image>/<size>      the product's call: NewSLIC, one segmentation, DeleteSLICHandle
//   SLIC_10it/<image>/<size> the same kernel with the early stop off (always 10 iterations)
//   SLIC_m8/<image>/<size>   the library at compactness 8, about OpenCV's spatial weight: its
//                            ruler weighs 8-bit RGB differences, and one CIELAB unit is about
//                            2.5 RGB steps, so ruler 20 on RGB is like m = 8 on CIELAB
//   OpenCV/<image>/<size>    createSuperpixelSLIC(SLIC, region = round(sqrt(N/K)), ruler = 20),
//                            iterate(10), enforceLabelConnectivity(), getLabels(); BGR 8UC3 input
//   SLIC_K/<K>               the product's call on a 4000 x 3000 demo image at K from 400 to 4e6
// Counters: EV (explained variation of RGB), count (superpixels), connected (1 when every
// superpixel is one 4-connected region), iters. At the end a markdown table of the medians.
#include "SLIC.h"
#include "Segmenter.h"

#include <benchmark/benchmark.h>

#ifdef ORVIX_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/ximgproc.hpp>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int32_t kK = 400;
constexpr double kCompactness = 20;
constexpr double kOpenCVLikeCompactness = 8;

struct TBenchImage {
    std::string Name;
    int32_t Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;  // 0x00RRGGBB
    std::string Size() const { return std::to_string(Width) + "x" + std::to_string(Height); }
};

struct TQuality {
    double ExplainedVariation = 0;
    int32_t Count = 0;
    bool Connected = false;
};

uint32_t Rgb(double r, double g, double b)
{
    auto byte = [](double v) { return uint32_t(std::clamp(std::lround(v), 0L, 255L)); };
    return byte(r) << 16 | byte(g) << 8 | byte(b);
}

// Like the photographs the program measures: a dark background, a dim reddish gum band, a bright
// green tooth (an ellipse) with red plaque patches, mild noise.
TBenchImage MakeDemoImage(int32_t width, int32_t height)
{
    TBenchImage im{"demo", width, height, std::vector<uint32_t>(size_t(width) * height)};
    std::mt19937 random(20240611);
    std::normal_distribution<double> noise(0.0, 4.0);
    const double cx = 0.5 * width, cy = 0.45 * height, rx = 0.22 * width, ry = 0.33 * height;
    struct TPatch { double X, Y, R; };
    const TPatch patches[] = {{0.45, 0.30, 0.05}, {0.58, 0.52, 0.04}, {0.50, 0.66, 0.06}};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            double r = 18, g = 14, b = 12;
            if (y > 0.72 * height + 0.05 * height * std::sin(6.0 * x / width)) {
                r = 95, g = 35, b = 32;
            }
            const double ex = (x - cx) / rx, ey = (y - cy) / ry;
            if (ex * ex + ey * ey < 1) {
                r = 70, g = 205, b = 80;
                for (const TPatch& p : patches) {
                    const double px = (x - p.X * width) / (p.R * width);
                    const double py = (y - p.Y * height) / (p.R * width);
                    if (px * px + py * py < 1)
                        r = 205, g = 60, b = 45;
                }
            }
            im.Pixels[size_t(y) * width + x]
                = Rgb(r + noise(random), g + noise(random), b + noise(random));
        }
    }
    return im;
}

double ExplainedVariation(const std::vector<uint32_t>& pixels, const int32_t* labels, int32_t count)
{
    const size_t n = pixels.size();
    std::vector<double> sum(size_t(count) * 3, 0.0);
    std::vector<int64_t> area(size_t(count), 0);
    double mean[3] = {0, 0, 0};
    auto channel = [&](size_t i, int c) { return double((pixels[i] >> (16 - 8 * c)) & 0xFF); };
    for (size_t i = 0; i < n; ++i) {
        ++area[size_t(labels[i])];
        for (int c = 0; c < 3; ++c) {
            sum[size_t(labels[i]) * 3 + c] += channel(i, c);
            mean[c] += channel(i, c);
        }
    }
    double within = 0, total = 0;
    for (size_t i = 0; i < n; ++i) {
        for (int c = 0; c < 3; ++c) {
            const double v = channel(i, c);
            const double own = sum[size_t(labels[i]) * 3 + c] / double(area[size_t(labels[i])]);
            within += (v - own) * (v - own);
            total += (v - mean[c] / double(n)) * (v - mean[c] / double(n));
        }
    }
    return total > 0 ? 1.0 - within / total : 1.0;
}

// True when the labels are exactly 0 .. count-1, each used, each one 4-connected region.
bool Connected(const int32_t* labels, int32_t width, int32_t height, int32_t count)
{
    const size_t n = size_t(width) * height;
    std::vector<char> seen(n, 0), labelSeen(size_t(count), 0);
    std::vector<size_t> stack;
    for (size_t start = 0; start < n; ++start) {
        if (seen[start])
            continue;
        const int32_t label = labels[start];
        if (label < 0 || label >= count || labelSeen[size_t(label)])
            return false;
        labelSeen[size_t(label)] = 1;
        seen[start] = 1;
        stack.assign(1, start);
        while (!stack.empty()) {
            const size_t i = stack.back();
            stack.pop_back();
            const size_t x = i % size_t(width);
            const size_t next[4] = {x > 0 ? i - 1 : i, x + 1 < size_t(width) ? i + 1 : i,
                                    i >= size_t(width) ? i - width : i,
                                    i + width < n ? i + width : i};
            for (size_t j : next) {
                if (!seen[j] && labels[j] == label) {
                    seen[j] = 1;
                    stack.push_back(j);
                }
            }
        }
    }
    return std::all_of(labelSeen.begin(), labelSeen.end(), [](char c) { return c != 0; });
}

TQuality Measure(const TBenchImage& im, const std::vector<int32_t>& labels, int32_t count)
{
    if (count <= 0)
        return {};
    return {ExplainedVariation(im.Pixels, labels.data(), count), count,
            Connected(labels.data(), im.Width, im.Height, count)};
}

void SetCounters(benchmark::State& state, const TQuality& q, int iterations)
{
    state.counters["EV"] = q.ExplainedVariation;
    state.counters["count"] = q.Count;
    state.counters["connected"] = q.Connected ? 1 : 0;
    state.counters["iters"] = iterations;
}

void BenchLibrary(benchmark::State& state, const TBenchImage* im, double compactness)
{
    std::vector<int32_t> labels(im->Pixels.size());
    int32_t count = 0;
    for (auto _ : state) {
        const SLICHandle h = NewSLIC();
        DoSuperpixelSegmentation_ForGivenK(
            h, im->Pixels.data(), im->Width, im->Height, labels.data(), &count, kK, compactness);
        DeleteSLICHandle(h);
        benchmark::DoNotOptimize(labels.data());
    }
    Slic::TSegmenter probe;  // the C interface does not tell how many iterations ran
    std::vector<int32_t> scratch(labels.size());
    probe.Run(im->Pixels.data(), im->Width, im->Height, kK, compactness, scratch.data());
    SetCounters(state, Measure(*im, labels, count), probe.Iterations());
}

// The product's call at K superpixels (state.range(0)) on a 12-megapixel photograph: the time
// should grow with the pixels, not with K.
void BenchManySuperpixels(benchmark::State& state, const TBenchImage* im)
{
    const auto k = int32_t(state.range(0));
    std::vector<int32_t> labels(im->Pixels.size());
    int32_t count = 0;
    for (auto _ : state) {
        const SLICHandle h = NewSLIC();
        DoSuperpixelSegmentation_ForGivenK(
            h, im->Pixels.data(), im->Width, im->Height, labels.data(), &count, k, kCompactness);
        DeleteSLICHandle(h);
        benchmark::DoNotOptimize(labels.data());
    }
    state.counters["count"] = count;
    state.counters["connected"] = Connected(labels.data(), im->Width, im->Height, count) ? 1 : 0;
    Slic::TSegmenter probe;
    probe.Run(im->Pixels.data(), im->Width, im->Height, k, kCompactness, labels.data());
    state.counters["iters"] = probe.Iterations();
}

void BenchFixedIterations(benchmark::State& state, const TBenchImage* im)
{
    std::vector<int32_t> labels(im->Pixels.size());
    Slic::TSlicOptions options;
    options.EarlyStop = false;
    int32_t count = 0;
    for (auto _ : state) {
        Slic::TSegmenter segmenter;
        count = segmenter.Run(im->Pixels.data(), im->Width, im->Height, kK, kCompactness,
                              labels.data(), options);
        benchmark::DoNotOptimize(labels.data());
    }
    SetCounters(state, Measure(*im, labels, count), options.MaxIterations);
}

#ifdef ORVIX_BENCH_OPENCV
cv::Mat ToBgr(const TBenchImage& im)
{
    cv::Mat bgr(im.Height, im.Width, CV_8UC3);
    for (int32_t y = 0; y < im.Height; ++y) {
        auto* row = bgr.ptr<cv::Vec3b>(y);
        for (int32_t x = 0; x < im.Width; ++x) {
            const uint32_t p = im.Pixels[size_t(y) * im.Width + x];
            row[x] = cv::Vec3b(uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16));
        }
    }
    return bgr;
}

void BenchOpenCV(benchmark::State& state, const TBenchImage* im)
{
    const cv::Mat bgr = ToBgr(*im);
    const int regionSize = int(std::lround(std::sqrt(double(im->Pixels.size()) / kK)));
    cv::Mat labels;
    int32_t count = 0;
    for (auto _ : state) {
        auto slic = cv::ximgproc::createSuperpixelSLIC(bgr, cv::ximgproc::SLIC, regionSize,
                                                       float(kCompactness));
        slic->iterate(10);
        slic->enforceLabelConnectivity();
        slic->getLabels(labels);
        count = slic->getNumberOfSuperpixels();
        benchmark::DoNotOptimize(labels.data);
    }
    const std::vector<int32_t> flat(
        labels.ptr<int32_t>(), labels.ptr<int32_t>() + im->Pixels.size());
    SetCounters(state, Measure(*im, flat, count), 10);
}

// skimage's sample photographs, resized to the benchmark size with OpenCV.
bool LoadPhoto(const std::string& name, int32_t width, int32_t height, TBenchImage& im)
{
    const cv::Mat file
        = cv::imread(std::string(ORVIX_SKIMAGE_DATA) + "/" + name + ".png", cv::IMREAD_COLOR);
    if (file.empty())
        return false;
    cv::Mat sized;
    const bool shrink = width < file.cols;
    cv::resize(
        file, sized, cv::Size(width, height), 0, 0, shrink ? cv::INTER_AREA : cv::INTER_CUBIC);
    im = {name, width, height, std::vector<uint32_t>(size_t(width) * height)};
    for (int32_t y = 0; y < height; ++y) {
        const auto* row = sized.ptr<cv::Vec3b>(y);
        for (int32_t x = 0; x < width; ++x)
            im.Pixels[size_t(y) * width + x]
                = uint32_t(row[x][2]) << 16 | uint32_t(row[x][1]) << 8 | row[x][0];
    }
    return true;
}
#endif

// Collects the medians (or single runs) and prints them as one markdown table at the end.
class TTableReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs) {
            const bool single = r.run_type == Run::RT_Iteration && r.repetitions <= 1;
            if (single || r.aggregate_name == "median")
                fRows[r.run_name.function_name] = r;
        }
    }

    void PrintTable() const
    {
        std::printf("\n| image | size | ours ms | ours EV | ours count | ours iters | 10 it ms |"
                    " 10 it EV | OpenCV ms | OpenCV EV | OpenCV count | speed-up | ours EV m=8 |"
                    " 4-connected |\n");
        std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
        for (const auto& [name, ours] : fRows) {
            if (name.rfind("SLIC/", 0) != 0)
                continue;
            const std::string rest = name.substr(5);
            const Run* fixed = Find("SLIC_10it/" + rest);
            const Run* cv = Find("OpenCV/" + rest);
            const Run* m8 = Find("SLIC_m8/" + rest);
            const std::string image = rest.substr(0, rest.find('/'));
            const std::string size = rest.substr(rest.find('/') + 1);
            bool connected = Counter(ours, "connected") == 1;
            std::printf("| %s | %s | %.1f | %.5f | %d | %d |", image.c_str(), size.c_str(),
                Ms(ours), Counter(ours, "EV"), int(Counter(ours, "count")),
                int(Counter(ours, "iters")));
            if (fixed) {
                std::printf(" %.1f | %.5f |", Ms(*fixed), Counter(*fixed, "EV"));
                connected = connected && Counter(*fixed, "connected") == 1;
            } else {
                std::printf(" - | - |");
            }
            if (cv) {
                std::printf(" %.1f | %.5f | %d | %.1fx |", Ms(*cv), Counter(*cv, "EV"),
                            int(Counter(*cv, "count")), Ms(*cv) / Ms(ours));
                connected = connected && Counter(*cv, "connected") == 1;
            } else {
                std::printf(" - | - | - | - |");
            }
            if (m8) {
                std::printf(" %.5f |", Counter(*m8, "EV"));
                connected = connected && Counter(*m8, "connected") == 1;
            } else {
                std::printf(" - |");
            }
            std::printf(" %s |\n", connected ? "all" : "NO");
        }
    }

private:
    const Run* Find(const std::string& name) const
    {
        const auto it = fRows.find(name);
        return it == fRows.end() ? nullptr : &it->second;
    }
    static double Ms(const Run& r)
    {
        return r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit) * 1e3;
    }
    static double Counter(const Run& r, const char* name)
    {
        const auto it = r.counters.find(name);
        return it == r.counters.end() ? 0.0 : double(it->second);
    }

    std::map<std::string, Run> fRows;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::vector<TBenchImage> images;
    const std::pair<int32_t, int32_t> sizes[] = {{640, 480}, {1024, 768}, {2048, 1536}};
#ifdef ORVIX_BENCH_OPENCV
    cv::setNumThreads(1);
    for (const char* name : {"chelsea", "coffee", "astronaut"}) {
        for (const auto& [w, h] : sizes) {
            TBenchImage im;
            if (LoadPhoto(name, w, h, im))
                images.push_back(std::move(im));
            else
                std::fprintf(
                    stderr, "slic_bench: %s.png not found in %s\n", name, ORVIX_SKIMAGE_DATA);
        }
    }
#endif
    for (const auto& [w, h] : sizes)
        images.push_back(MakeDemoImage(w, h));

    for (const TBenchImage& im : images) {
        const std::string suffix = "/" + im.Name + "/" + im.Size();
        benchmark::RegisterBenchmark(("SLIC" + suffix).c_str(), BenchLibrary, &im, kCompactness)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("SLIC_m8" + suffix).c_str(), BenchLibrary, &im,
                                     kOpenCVLikeCompactness)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
        benchmark::RegisterBenchmark(("SLIC_10it" + suffix).c_str(), BenchFixedIterations, &im)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
#ifdef ORVIX_BENCH_OPENCV
        benchmark::RegisterBenchmark(("OpenCV" + suffix).c_str(), BenchOpenCV, &im)
            ->Unit(benchmark::kMillisecond)->UseRealTime();
#endif
    }
    // SLIC_K/<K>: 4000 x 3000, from 400 to 4 million superpixels.
    const TBenchImage large = MakeDemoImage(4000, 3000);
    benchmark::RegisterBenchmark("SLIC_K", BenchManySuperpixels, &large)
        ->Arg(400)->Arg(10'000)->Arg(100'000)->Arg(1'000'000)->Arg(4'000'000)
        ->Unit(benchmark::kMillisecond)->UseRealTime();
    TTableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintTable();
    benchmark::Shutdown();
    return 0;
}
