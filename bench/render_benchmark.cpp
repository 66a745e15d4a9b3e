// The whole display-frame render against MuPDF's bare draw of the same page
// into a pixmap of the same size.
#include "bench/SampleIssue.h"
#include "kit/DisplayRenderer.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
#include <unistd.h>

namespace {

const std::filesystem::path& issuePath() {
    static const std::filesystem::path path = [] {
        auto path = std::filesystem::temp_directory_path() /
                    ("quillo-bench-" + std::to_string(::getpid()) + ".pdf");
        std::ofstream(path, std::ios::binary) << quillo::sample::denseIssuePdf(2);
        return path;
    }();
    return path;
}

quillo::DisplayModel modelOf(const benchmark::State& state) {
    return state.range(0) == 0 ? quillo::DisplayModel::og : quillo::DisplayModel::x;
}

void wholeRender(benchmark::State& state) {
    const auto model = modelOf(state);
    const auto output = issuePath().string() + ".png";
    for (auto _ : state) {
        quillo::DisplayRenderer::render(issuePath(), output, model);
    }
    std::filesystem::remove(output);
}

void ignore(void*, const char*) {}

// Context, open, page, white gray pixmap, draw: no checks, threshold or PNG.
void bareDraw(benchmark::State& state) {
    const auto model = modelOf(state);
    const int width = quillo::width(model);
    const int height = quillo::height(model);
    for (auto _ : state) {
        fz_context* context = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
        fz_set_warning_callback(context, ignore, nullptr);
        pdf_document* document = pdf_open_document(context, issuePath().c_str());
        pdf_page* page = pdf_load_page(context, document, 0);
        fz_pixmap* pixmap =
            fz_new_pixmap(context, fz_device_gray(context), width, height, nullptr, 0);
        fz_clear_pixmap_with_value(context, pixmap, 255);
        const float scale = static_cast<float>(height) / 792.0F;
        const fz_matrix ctm =
            fz_concat(fz_scale(scale, scale),
                      fz_translate((static_cast<float>(width) - 612.0F * scale) / 2, 0));
        fz_device* device = fz_new_draw_device(context, fz_identity, pixmap);
        pdf_run_page(context, page, device, ctm, nullptr);
        fz_close_device(context, device);
        benchmark::DoNotOptimize(fz_pixmap_samples(context, pixmap));
        fz_drop_device(context, device);
        fz_drop_pixmap(context, pixmap);
        fz_drop_page(context, &page->super);
        pdf_drop_document(context, document);
        fz_drop_context(context);
    }
}

} // namespace

BENCHMARK(wholeRender)->Arg(0)->Arg(1)->ArgName("x")->Unit(benchmark::kMillisecond);
BENCHMARK(bareDraw)->Arg(0)->Arg(1)->ArgName("x")->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
