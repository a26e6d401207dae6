# The engine's command files (tests/data/command_file, the texts the engine's
# own tests compare its output with), filled in and run by a separate R
# process as the engine runs them: the log of a successful run must not
# contain the words the engine scans for, the results file gets its titled
# sections in order, the statistics file its lines and the working folder
# the numbered plot files. The folder is found from the source tree's test
# folder, where the tests run, or named by QUOX_COMMAND_FILES.

golden.dir <- Sys.getenv("QUOX_COMMAND_FILES", file.path("..", "..", "..", "..", "tests", "data", "command_file"))

write.host.table <- function(df, file) {
  cell <- function(x) if (is.numeric(x)) ifelse(is.na(x), "", ifelse(x < 0, format(x), paste0(" ", format(x))))
                      else as.character(x)
  body <- do.call(paste, c(lapply(df, cell), sep = "\t"))
  writeBin(charToRaw(paste0(paste(c(paste(names(df), collapse = "\t"), body), collapse = "\r\n"), "\r\n")), file)
}

survey.files <- function(dir) {
  d <- sim.double(N = 500, seed = 71)
  smp <- rep(1:6, length.out = max(d$object))
  d$Label <- paste0("T", smp[d$object])
  regions <- c("1. North", "2. South")
  tables <- list(ddf = d, region = data.frame(Region.Label = regions, Area = c(12.5, 20)),
                 sample = data.frame(Sample.Label = paste0(1:7, "."), Region.Label = rep(regions, 3:4),
                                     Effort = c(2.1, 3.3, 2.7, 4, 3.1, 2.2, 1.5)),
                 obs = data.frame(object = seq_along(smp), Region.Label = regions[1 + (smp > 3)],
                                  Sample.Label = paste0(smp, ".")))
  for (t in names(tables)) write.host.table(tables[[t]], file.path(dir, paste0(t, ".dat.r")))
}

# The command file golden (io_exact.r or io_binned.r) with the values of a
# run in dir for its placeholders.
command.file <- function(golden, dir) {
  v <- c(ID = "7", PKG = "quox", PKGPATH = Sys.getenv("QUOX_ARCHIVE"), SUPPORT = Sys.getenv("QUOX_SUPPORT_FILE"),
         RES = "res.r", STAT = "stat.r", DDFDATA = "ddf.dat.r", REGION = "region.dat.r", SAMPLE = "sample.dat.r",
         OBS = "obs.dat.r", PW = "300", PH = "300", PS = "12", LWD = "2", LTY = "1", PCH = "1", CEX = "1", CU = "0.001")
  files <- c("RES", "STAT", "DDFDATA", "REGION", "SAMPLE", "OBS")
  v[files] <- file.path(dir, v[files])
  lines <- readLines(file.path(golden.dir, golden))
  for (k in names(v)) lines <- gsub(paste0("{", k, "}"), v[[k]], lines, fixed = TRUE)
  lines
}

# Runs the command file in a fresh folder holding the survey's data files
# (CR LF line ends, as the engine writes it), and returns the exit status
# and log with what the run left behind: the results and statistics files'
# lines and the plot files. env: the host's environment variables, c(NAME = value).
run.command.file <- function(golden, env = character(0)) {
  skip_if(!file.exists(file.path(golden.dir, golden)),
          paste0(golden, " not in ", golden.dir, ": the command files are the repository's, not the package's"))
  skip_if(!file.exists(Sys.getenv("QUOX_SUPPORT_FILE")) || !file.exists(Sys.getenv("QUOX_ARCHIVE")),
          "support file or package archive not given")
  dir.create(dir <- tempfile("cmd"))
  on.exit(unlink(dir, recursive = TRUE))
  survey.files(dir)
  writeBin(charToRaw(paste0(paste(command.file(golden, dir), collapse = "\r\n"), "\r\n")), file.path(dir, "in.r"))
  old <- setwd(dir)
  on.exit(setwd(old), add = TRUE, after = FALSE)
  env <- if (length(env)) paste0(names(env), "=", shQuote(env)) else character(0)
  status <- system2(file.path(R.home("bin"), "R"), c("--no-save", "--no-restore", "-f", "in.r"),
                    stdout = "log.r", stderr = "log.r", env = env)
  lines <- function(f) if (file.exists(f)) readLines(f) else character(0)
  list(status = status, log = paste(lines("log.r"), collapse = "\n"), res = lines("res.r"), stats = lines("stat.r"),
       precise = lines("precise.r"), plots = list.files(".", pattern = "png$"))
}

for (binned in c(FALSE, TRUE)) {
  test_that(paste("a complete command file runs cleanly,", if (binned) "binned distances" else "exact distances"), {
    # the binned run as a host that knows the area unit and wants the precise statistics
    r <- run.command.file(if (binned) "io_binned.r" else "io_exact.r",
                          if (binned) c(PRAMBLE_AREA_UNIT = "Square kilometer", PRAMBLE_PRECISE_STATS = "precise.r"))
    expect_equal(r$status, 0L)
    expect_false(grepl("error|execution halted|warning", r$log, ignore.case = TRUE))
    titles <- grep("^\t.*\t$", r$res, value = TRUE)
    expect_equal(titles, paste0("\t", c("Detection Fct/Summary", if (!binned) "Detection Fct/Plot: Qq-plot",
                                        "Detection Fct/GOF", "Detection Fct/Plot: Detection Probability",
                                        "Density Estimates and associated quantities"), "\t"))
    expect_true(all(grepl("^[0-9]{4}\t", r$stats)))
    stats.lines <- r$precise[!startsWith(r$precise, "label\t")]
    expect_equal(substr(stats.lines, 1, 5), if (binned) substr(r$stats, 1, 5) else character(0))
    expect_true(any(startsWith(r$res, paste("Density is per", if (binned) "square kilometer;" else "unit of area;"))))
    expect_true(all(c("0001", "0003", "0006", "1000", "1010", "1020", "2000") %in% substr(r$stats, 1, 4)))
    expect_equal(sort(r$plots), sort(c(if (!binned) "qq.7.01.png", sprintf("ddf.7.%02d.png", 1:6))))
  })
}
