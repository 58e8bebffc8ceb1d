#include "cli/piece_set.h"

#include "cli/texts.h"
#include "engine/piece_naming.h"
#include "tessel/product.h"
#include "ui/start_path.h"

namespace tessel::cli {

void AddNameArgument(CLI::App& command, std::string& name, std::string_view purpose) {
    command
        .add_option("NAME", name,
                    std::string(purpose) +
                        "; it may also be given as one of its pieces or as its checksum file NAME" +
                        product::kChecksumSuffix)
        ->type_name("")
        ->required();
}

JoinRequest RequestFor(std::string_view given) {
    JoinRequest request;
    request.targetPath = ui::FileFieldText(given, request.extension);
    return request;
}

std::vector<PieceLine> PieceLines(const JoinRequest& request, const VerifyResult& found) {
    const std::string& target = request.targetPath;
    const std::string base = FileNamePart(target);
    // The folder exactly as given, separator included: nothing, "set/", "/media/usb/".
    const std::string folder = target.substr(0, target.size() - base.size());
    std::vector<PieceLine> lines;
    for (std::int64_t n = 1; n <= std::ssize(found.pieces); ++n)
        lines.push_back({folder + PieceName(base, n, request.extension),
                         found.pieces[static_cast<std::size_t>(n - 1)]});
    for (std::int64_t j = 1; j <= std::ssize(found.recoveryPieces); ++j)
        lines.push_back({folder + RecoveryPieceName(base, j, request.extension),
                         found.recoveryPieces[static_cast<std::size_t>(j - 1)]});
    return lines;
}

std::string LineOf(const PieceLine& piece, std::string_view word) {
    return piece.path + ": " + std::string(word);
}

std::string Counted(std::int64_t count, std::string_view kind) {
    const std::string counted = std::to_string(count) + " " + std::string(kind);
    return count == 1 ? counted : counted + "s";
}

std::string LostText(std::int64_t count, std::string_view kind) {
    return Counted(count, kind) + (count == 1 ? " is" : " are") + texts::kLost;
}

}  // namespace tessel::cli
