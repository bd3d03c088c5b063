#include <filesystem>
#include <iostream>

#include "command/ocr_command.h"
#include "decoding/file_image_decoder.h"
#include "recognition/recognition_languages.h"
#include "recognition/tesseract_recognizer.h"

int main(int argc, char** argv) {
  mivo::ocr::FileImageDecoder decoder;
  mivo::ocr::TesseractRecognizer recognizer(mivo::ocr::recognitionLanguages());
  mivo::ocr::OcrPlatform platform{[](const std::string& path) {
                                    std::error_code error;
                                    return std::filesystem::exists(path, error);
                                  },
                                  decoder, recognizer};
  const std::span<const char* const> arguments(argv, static_cast<std::size_t>(argc));
  return mivo::ocr::runOcrCommand(arguments, platform, std::cout);
}
