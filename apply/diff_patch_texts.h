// The diff patch's log texts that are Korean, as code-page-949 bytes (the
// log is read with that code page). Each is a printf format.
#pragma once

// "PCH 메모리 할당 요청 = %d MB" (memory requested for the delta)
constexpr char kPchAllocText[] = "PCH \xB8\xDE\xB8\xF0\xB8\xAE \xC7\xD2\xB4\xE7 \xBF\xE4\xC3\xBB = %d MB";
// "ORG 메모리 할당 요청 = %d MB" (for the original)
constexpr char kOrgAllocText[] = "ORG \xB8\xDE\xB8\xF0\xB8\xAE \xC7\xD2\xB4\xE7 \xBF\xE4\xC3\xBB = %d MB";
// "OUT 메모리 할당 요청 = %d MB" (for the output)
constexpr char kOutAllocText[] = "OUT \xB8\xDE\xB8\xF0\xB8\xAE \xC7\xD2\xB4\xE7 \xBF\xE4\xC3\xBB = %d MB";
// "CRC1차 에러 = %s %d -> %d" (size before the delta is wrong)
constexpr char kSizeBeforeErrorText[] = "CRC1\xC2\xF7 \xBF\xA1\xB7\xAF = %s %d -> %d";
// "FileSize - 원본 동일 (%u, %u)" (size before the delta is right)
constexpr char kSizeBeforeOkText[] = "FileSize - \xBF\xF8\xBA\xBB \xB5\xBF\xC0\xCF (%u, %u)";
// "파일맵 패치 = %s (%d -> %d)" (patched in place through a file mapping)
constexpr char kInPlaceText[] = "\xC6\xC4\xC0\xCF\xB8\xCA \xC6\xD0\xC4\xA1 = %s (%d -> %d)";
// "파일맵 할당 실패 = %s" (the file could not be mapped)
constexpr char kInPlaceFailedText[] = "\xC6\xC4\xC0\xCF\xB8\xCA \xC7\xD2\xB4\xE7 \xBD\xC7\xC6\xD0 = %s";
// "메모리 패치 = %s (%d -> %d)" (patched in memory)
constexpr char kMemoryPatchText[] = "\xB8\xDE\xB8\xF0\xB8\xAE \xC6\xD0\xC4\xA1 = %s (%d -> %d)";
// "옛파일 패치 = %s" (patched through files, the old way)
constexpr char kFilePatchText[] = "\xBF\xBE\xC6\xC4\xC0\xCF \xC6\xD0\xC4\xA1 = %s";
// "CRC2차 에러 = %s %d -> %d" (size after the delta is wrong)
constexpr char kSizeAfterErrorText[] = "CRC2\xC2\xF7 \xBF\xA1\xB7\xAF = %s %d -> %d";
// "FileSize - 결과 동일 (%u, %u)" (size after the delta is right)
constexpr char kSizeAfterOkText[] = "FileSize - \xB0\xE1\xB0\xFA \xB5\xBF\xC0\xCF (%u, %u)";
