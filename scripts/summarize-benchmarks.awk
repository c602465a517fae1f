# Reads the JSON files Google Benchmark writes with repetitions and prints,
# for each file, the median and coefficient of variation of every case in the
# order the program registers them, then the ratios the README quotes.
# Usage: awk -f scripts/summarize-benchmarks.awk build/bench/results/*.json

function value(    v) {
  v = $0
  sub(/^[^:]*: */, "", v)
  sub(/,$/, "", v)
  gsub(/"/, "", v)
  return v
}

FNR == 1 {
  file = FILENAME
  sub(/^.*\//, "", file)
  sub(/\.json$/, "", file)
  files[++fileCount] = file
}
/^      "run_name":/ { run = value() }
/^      "family_index":/ { family = value() + 0 }
/^      "per_family_instance_index":/ { instance = value() + 0 }
/^      "aggregate_name":/ { aggregate = value() }
/^      "real_time":/ { real = value() + 0 }
/^      "time_unit":/ { unit = value() }
/^      "entries":/ { entries = value() + 0 }
/^      "items_per_second":/ { throughput = value() + 0 }
/^    }/ {
  key = file SUBSEP run
  if (aggregate == "median") {
    median[key] = real
    units[key] = unit
    entryCounts[key] = entries
    throughputs[key] = throughput
    slot = family * 1000 + instance
    runAt[file, slot] = run
    if (slot > lastSlot[file]) lastSlot[file] = slot
  } else if (aggregate == "cv") {
    cv[key] = real
  }
  run = aggregate = unit = entries = throughput = ""
}

# Ratio of the median throughputs (items per second) of two cases.
function throughputRatio(label, fileA, runA, fileB, runB, target,    a, b) {
  a = throughputs[fileA SUBSEP runA]
  b = throughputs[fileB SUBSEP runB]
  if (a == "" || b == "" || b == 0) return
  printf "%-62s %6.3f  %s\n", label, a / b, target
}

function ratio(label, fileA, runA, fileB, runB, target,    a, b) {
  a = median[fileA SUBSEP runA]
  b = median[fileB SUBSEP runB]
  if (a == "" || b == "") return
  printf "%-62s %6.3f  %s\n", label, a / b, target
}

END {
  for (f = 1; f <= fileCount; ++f) {
    file = files[f]
    printf "\n=== %s: medians\n", file
    printf "%-70s %13s %7s %8s\n", "case", "median", "cv", "entries"
    for (slot = 0; slot <= lastSlot[file]; ++slot) {
      if (!((file, slot) in runAt)) continue
      key = file SUBSEP runAt[file, slot]
      shown = median[key]
      unit = units[key]
      if (unit == "ns" && shown >= 10000) { shown /= 1000; unit = "us" }
      printf "%-70s %10.1f %-2s %6.1f%% %8s\n", runAt[file, slot], shown,
             unit, 100 * cv[key], entryCounts[key]
    }
  }

  c = "cache_benchmark"
  n = "cache_benchmark.no-rep-movsb"
  b = "baseline_benchmark"
  p = "leveldb_peer_benchmark"
  docs = "/documents/min_time:0.500/manual_time"
  print "\n=== ratios of medians"
  ratio("documents: byte-budgeted cache / floor", c, "MeasurementCache" docs,
        c, "Floor" docs, "(target <= 1.10)")
  ratio("documents, rep movsb off: byte-budgeted cache / floor",
        n, "MeasurementCache" docs, n, "Floor" docs, "")
  ratio("documents: count-only cache / floor", b, "BaselineCache" docs,
        b, "Floor" docs, "")
  ratio("documents, peer program: byte-budgeted cache / floor",
        p, "MeasurementCache" docs, p, "Floor" docs, "")
  ratio("documents, peer program, rep movsb off: cache / floor",
        p ".no-rep-movsb", "MeasurementCache" docs,
        p ".no-rep-movsb", "Floor" docs, "")
  ratio("documents, peer program: LevelDB / floor", p, "LevelDB" docs,
        p, "Floor" docs, "")
  for (bytes = 64; bytes <= 262144; bytes *= 64) {
    ratio("get hit, " bytes " B: MeasurementCache / LevelDB lookup+release",
          p, "MeasurementCache/get_hit/markdown:" bytes,
          p, "LevelDB/lookup_release_hit/markdown:" bytes,
          bytes <= 4096 ? "(target <= 1.00)" : "")
  }
  print "\n=== throughput on one shared cache, n threads / 1 thread"
  for (bytes = 64; bytes <= 4096; bytes *= 64) {
    for (t = 2; t <= 8; t *= 2) {
      target = ""
      if (t == 2) target = bytes == 64 ? "(target >= 0.75)" : "(target >= 1.70)"
      throughputRatio("get hit, " bytes " B, " t " threads / 1", c,
                      "MeasurementCache/get_hit_threads/markdown:" bytes \
                      "/real_time/threads:" t, c,
                      "MeasurementCache/get_hit_threads/markdown:" bytes \
                      "/real_time/threads:1", target)
    }
    for (t = 2; t <= 8; t *= 2) {
      throughputRatio("get/set 80/20, " bytes " B, " t " threads / 1", c,
                      "MeasurementCache/get_set_mix_threads/markdown:" bytes \
                      "/real_time/threads:" t, c,
                      "MeasurementCache/get_set_mix_threads/markdown:" bytes \
                      "/real_time/threads:1",
                      t == 2 && bytes == 64 ? "(target >= 0.75)" : "")
    }
  }
  l = "lock_benchmark"
  split("std_mutex pthread_adaptive_mutex spin_then_yield", others, " ")
  print "\n=== locks around a hit-shaped critical section: throughput, " \
        "spin_then_park / other"
  for (bytes = 64; bytes <= 4096; bytes *= 64) {
    for (t = 1; t <= 8; t *= 2) {
      for (o = 1; o <= 3; ++o) {
        throughputRatio(bytes " B, " t " threads: spin_then_park / " others[o],
                        l, "Lock/spin_then_park/markdown:" bytes \
                        "/real_time/threads:" t, l,
                        "Lock/" others[o] "/markdown:" bytes \
                        "/real_time/threads:" t, "")
      }
    }
  }
  print "\n=== locks: throughput, n threads / 1 thread"
  split("std_mutex pthread_adaptive_mutex spin_then_yield spin_then_park",
        locks, " ")
  for (bytes = 64; bytes <= 4096; bytes *= 64) {
    for (k = 1; k <= 4; ++k) {
      for (t = 2; t <= 8; t *= 2) {
        throughputRatio(bytes " B, " locks[k] ", " t " threads / 1",
                        l, "Lock/" locks[k] "/markdown:" bytes \
                        "/real_time/threads:" t, l,
                        "Lock/" locks[k] "/markdown:" bytes \
                        "/real_time/threads:1", "")
      }
    }
  }
  for (bytes = 64; bytes <= 262144; bytes *= 64) {
    ratio("inserting set, " bytes " B: MeasurementCache / LevelDB",
          p, "MeasurementCache/set_insert_evicting_by_count/markdown:" bytes,
          p, "LevelDB/insert_release_evicting/markdown:" bytes, "")
  }
}
