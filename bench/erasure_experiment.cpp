// Measures the erasure-coding libraries Debian offers, to choose the one that makes recovery
// pieces: gf-complete under jerasure (GF(2^16), up to 65536 pieces in one code word), ISA-L
// (GF(2^8), at most 255) and liberasurecode (at most 32 fragments, whole objects only), against
// Tessel's own recovery code, which is built on the first.
//
// Usage: erasure_experiment [MIB]
// Every figure is bytes of DATA handled per second of this thread's processor time (the machine
// may be shared), the best of three runs over about MIB MiB (default 256). "encode" turns data
// into R recovery pieces; "rebuild K" makes K lost data pieces again from the survivors.
// "streaming" adds each 1 MiB buffer of each data piece into R buffers of 1 MiB, as a split that
// reads each piece once does; "stripe" hands the library all 64 data pieces of 1 MiB at once.
// ISA-L runs last: its vector code leaves the processor in a state that slows the SSE code of
// gf-complete that follows by about 2.7 times on an AMD EPYC (a run of Tessel never loads it).
#include <erasurecode.h>
#include <isa-l/erasure_code.h>
#include <jerasure.h>
#include <jerasure/cauchy.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <numeric>
#include <random>
#include <span>
#include <vector>

#include "engine/recovery_code.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kBufferBytes = 1 << 20;
constexpr int kPieces = 64;                // data pieces in the streaming and stripe rows
constexpr int kLibErasureCodePieces = 16;  // liberasurecode allows 32 fragments in all
constexpr int kRecoveryCounts[] = {1, 2, 4, 16};
constexpr int kRuns = 3;
constexpr int kFieldBits = 16;

std::int64_t g_dataBytes = 256LL << 20;

std::vector<Bytes> Buffers(int count, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Bytes> buffers(count, Bytes(kBufferBytes));
    for (auto& buffer : buffers)
        for (auto& byte : buffer) byte = static_cast<std::uint8_t>(random());
    return buffers;
}

template <typename T>
std::vector<T*> Pointers(std::vector<Bytes>& buffers) {
    std::vector<T*> pointers;
    for (auto& buffer : buffers) pointers.push_back(reinterpret_cast<T*>(buffer.data()));
    return pointers;
}

std::vector<int> FirstPieces(int count) {
    std::vector<int> pieces(count);
    std::iota(pieces.begin(), pieces.end(), 0);
    return pieces;
}

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs `pass`, which handles `bytesPerPass` bytes of data, often enough to cover the data size,
// three times, and prints the best rate.
void Report(const char* what, int r, std::int64_t bytesPerPass, const std::function<void()>& pass) {
    const std::int64_t passes = std::max<std::int64_t>(1, g_dataBytes / bytesPerPass);
    double best = 0;
    for (int run = 0; run < kRuns; ++run) {
        const double start = ThreadSeconds();
        for (std::int64_t i = 0; i < passes; ++i) pass();
        best =
            std::max(best, static_cast<double>(passes * bytesPerPass) / (ThreadSeconds() - start));
    }
    std::printf("%-46s %3d %8.0f MB/s\n", what, r, best / 1e6);
}

void Add(const tessel::RecoveryCode& code, tessel::CodeCoefficient coefficient, Bytes& source,
         Bytes& target) {
    code.AddProduct(coefficient, std::as_bytes(std::span(source)), 0,
                    std::as_writable_bytes(std::span(target)), 0);
}

void GfCompleteRows() {
    std::vector<Bytes> buffers = Buffers(2, 1);
    galois_init_default_field(kFieldBits);
    gf_t* field = galois_get_field_ptr(kFieldBits);
    std::puts(
        "one region multiply-accumulate of 1 MiB, gf-complete GF(2^16) as jerasure sets it up");
    for (const unsigned coefficient : {1u, 0x1234u}) {
        Report(coefficient == 1 ? "coefficient 1 (XOR)" : "coefficient 0x1234", 1, kBufferBytes,
               [&] {
                   field->multiply_region.w32(field, buffers[0].data(), buffers[1].data(),
                                              coefficient, kBufferBytes, 1);
               });
    }
}

void TesselRows() {
    std::vector<Bytes> pieces = Buffers(kPieces + kRecoveryCounts[3], 10);
    std::puts("Tessel recovery code: streaming encode, streaming rebuild, plan for N = 32767");
    for (const int r : kRecoveryCounts) {
        const tessel::RecoveryCode code = *tessel::RecoveryCode::Choose(kPieces, r, kBufferBytes);
        std::vector<Bytes> recovery = Buffers(r, 100);
        Report(r == 1 ? "encode (xor)" : "encode (rs16)", r, kBufferBytes * kPieces, [&] {
            for (int i = 0; i < kPieces; ++i)
                for (int j = 0; j < r; ++j)
                    Add(code, code.Coefficient(j, i), pieces[i], recovery[j]);
        });
        // Rebuild R pieces, and one alone where that differs from R and from the rows above.
        for (const int lost : {r, r == 16 ? 1 : 0}) {
            if (lost == 0) continue;
            const auto plan = code.PlanRebuild(FirstPieces(lost));
            std::vector<Bytes> rebuilt = Buffers(lost, 300);
            Report(lost == 1 ? "rebuild 1" : "rebuild R", r, kBufferBytes * kPieces, [&] {
                for (const int piece : plan->Reads()) {
                    const auto coefficients = plan->CoefficientsFor(piece);
                    for (int b = 0; b < lost; ++b)
                        Add(code, coefficients[b], pieces[piece], rebuilt[b]);
                }
            });
        }
        const auto largest = tessel::RecoveryCode::Choose(tessel::RecoveryCode::kMaxDataPieces, r, 2);
        const double start = ThreadSeconds();
        const auto plan = largest->PlanRebuild(FirstPieces(r));
        std::uint64_t sum = 0;
        for (const int piece : plan->Reads())
            for (const auto coefficient : plan->CoefficientsFor(piece)) sum += coefficient.word;
        std::printf("%-46s %3d %8.1f ms (sum %llu)\n", "plan and every coefficient, N = 32767", r,
                    (ThreadSeconds() - start) * 1e3, static_cast<unsigned long long>(sum));
    }
}

void JerasureRows() {
    std::vector<Bytes> data = Buffers(kPieces, 10);
    std::puts("jerasure w=16 Cauchy, stripe encode and rebuild");
    for (const int r : kRecoveryCounts) {
        std::vector<Bytes> recovery = Buffers(r, 100);
        int* matrix = cauchy_good_general_coding_matrix(kPieces, r, kFieldBits);
        auto sources = Pointers<char>(data);
        auto targets = Pointers<char>(recovery);
        Report("jerasure_matrix_encode", r, kBufferBytes * kPieces, [&] {
            jerasure_matrix_encode(kPieces, r, kFieldBits, matrix, sources.data(), targets.data(),
                                   kBufferBytes);
        });
        std::vector<int> erasures = FirstPieces(r);
        erasures.push_back(-1);
        Report("jerasure_matrix_decode, rebuild R", r, kBufferBytes * kPieces, [&] {
            jerasure_matrix_decode(kPieces, r, kFieldBits, matrix, 0, erasures.data(),
                                   sources.data(), targets.data(), kBufferBytes);
        });
        std::free(matrix);
    }
}

void IsalRows() {
    std::vector<Bytes> data = Buffers(kPieces, 10);
    std::puts("ISA-L GF(2^8) Cauchy: region, streaming and stripe encode, rebuild R");
    std::vector<unsigned char> regionTables(32);
    gf_vect_mul_init(0x57, regionTables.data());
    Report("gf_vect_mad, one region of 1 MiB", 1, kBufferBytes, [&] {
        gf_vect_mad(kBufferBytes, 1, 0, regionTables.data(), data[0].data(), data[1].data());
    });
    for (const int r : kRecoveryCounts) {
        const int k = kPieces;
        std::vector<Bytes> recovery = Buffers(r, 100), rebuilt = Buffers(r, 200);
        std::vector<unsigned char> matrix((k + r) * k), tables(32 * k * r);
        gf_gen_cauchy1_matrix(matrix.data(), k + r, k);
        ec_init_tables(k, r, &matrix[k * k], tables.data());
        auto sources = Pointers<unsigned char>(data);
        auto targets = Pointers<unsigned char>(recovery);
        Report("ec_encode_data_update, streaming", r, kBufferBytes * k, [&] {
            for (int i = 0; i < k; ++i)
                ec_encode_data_update(kBufferBytes, k, r, i, tables.data(), sources[i],
                                      targets.data());
        });
        Report("ec_encode_data, stripe", r, kBufferBytes * k, [&] {
            ec_encode_data(kBufferBytes, k, r, tables.data(), sources.data(), targets.data());
        });
        // Data pieces 0 .. r-1 lost: invert the k x k matrix of the survivors' rows.
        std::vector<unsigned char> survivorRows(matrix.begin() + r * k, matrix.end());
        std::vector<unsigned char*> survivors(sources.begin() + r, sources.end());
        survivors.insert(survivors.end(), targets.begin(), targets.end());
        std::vector<unsigned char> inverse(k * k);
        auto outputs = Pointers<unsigned char>(rebuilt);
        Report("gf_invert_matrix + ec_encode_data, rebuild R", r, kBufferBytes * k, [&] {
            std::vector<unsigned char> scratch = survivorRows;
            gf_invert_matrix(scratch.data(), inverse.data(), k);
            ec_init_tables(k, r, inverse.data(), tables.data());
            ec_encode_data(kBufferBytes, k, r, tables.data(), survivors.data(), outputs.data());
        });
    }
}

void LibErasureCodeRows() {
    std::vector<Bytes> pieces = Buffers(kLibErasureCodePieces, 7);
    Bytes object;
    for (const auto& piece : pieces) object.insert(object.end(), piece.begin(), piece.end());
    std::puts("liberasurecode: one object of 16 MiB into 16 fragments plus R");
    const struct {
        const char* name;
        ec_backend_id_t id;
    } backends[] = {{"isa_l_rs_cauchy encode", EC_BACKEND_ISA_L_RS_CAUCHY},
                    {"jerasure_rs_cauchy encode", EC_BACKEND_JERASURE_RS_CAUCHY}};
    for (const auto& backend : backends) {
        for (const int r : kRecoveryCounts) {
            ec_args args{};
            args.k = kLibErasureCodePieces;
            args.m = r;
            args.hd = r;
            args.ct = CHKSUM_NONE;
            const int desc = liberasurecode_instance_create(backend.id, &args);
            if (desc <= 0) {
                std::printf("%-46s %3d unavailable (error %d)\n", backend.name, r, desc);
                continue;
            }
            Report(backend.name, r, static_cast<std::int64_t>(object.size()), [&] {
                char **fragments = nullptr, **parity = nullptr;
                std::uint64_t length = 0;
                liberasurecode_encode(desc, reinterpret_cast<const char*>(object.data()),
                                      object.size(), &fragments, &parity, &length);
                liberasurecode_encode_cleanup(desc, fragments, parity);
            });
            liberasurecode_instance_destroy(desc);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) g_dataBytes = std::atoll(argv[1]) << 20;
    if (argc > 2 || g_dataBytes <= 0) {
        std::fprintf(stderr, "usage: erasure_experiment [MIB]\n");
        return 2;
    }
    std::printf("%-46s %3s %13s\n", "what", "R", "data rate");
    GfCompleteRows();
    TesselRows();
    JerasureRows();
    IsalRows();
    LibErasureCodeRows();
    return 0;
}
