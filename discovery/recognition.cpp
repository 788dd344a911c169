#include "discovery/recognition.h"

BrowserClassification ClassifyBrowserName(const std::string& displayName) {
    for (const RecognitionRow& row : BrowserRecognitionTable)
        if (displayName.find(row.Marker) != std::string::npos) return {true, std::string(row.CanonicalName)};
    return {};
}
