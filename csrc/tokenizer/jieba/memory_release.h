#pragma once

namespace orvel::tokenizer::jieba {

// Gives the pages of freed heap blocks back to the system. Loading the data files frees tens
// of megabytes of temporaries (file texts, entry lists, the trie builder's tree). glibc keeps
// freed blocks below the top of its heap resident, and once a temporary that large has been
// freed it raises its own thresholds so that it keeps even the free top: without this call a
// process holding one engine stays about 10 MiB larger than the data it holds. Elsewhere this
// does nothing. It only returns memory that is already free, so it never changes a result.
void ReleaseFreedMemory();

}  // namespace orvel::tokenizer::jieba
