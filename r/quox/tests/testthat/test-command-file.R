# The engine's command file, run by a separate R process as the engine does:
# the log of a successful run must not contain the words the engine scans
# for, the results file gets its titled sections in order, the statistics
# file its lines and the working folder the numbered plot files.

write.host.table <- function(df, file) {
  cell <- function(x) if (is.numeric(x)) ifelse(is.na(x), "", ifelse(x < 0, format(x), paste0(" ", format(x))))
                      else as.character(x)
  body <- do.call(paste, c(lapply(df, cell), sep = "\t"))
  writeBin(charToRaw(paste0(paste(c(paste(names(df), collapse = "\t"), body), collapse = "\r\n"), "\r\n")), file)
}

survey.files <- function(dir) {
  d <- sim.double(N = 500, seed = 71)
  n <- max(d$object)
  smp <- rep(1:6, length.out = n)
  d$Label <- paste0("T", smp[d$object])
  write.host.table(d, file.path(dir, "ddf.dat.r"))
  write.host.table(data.frame(Region.Label = c("1. North", "2. South"), Area = c(12.5, 20)),
                   file.path(dir, "region.dat.r"))
  write.host.table(data.frame(Sample.Label = c(paste0(1:6, "."), "7."),
                              Region.Label = c(rep("1. North", 3), rep("2. South", 4)),
                              Effort = c(2.1, 3.3, 2.7, 4, 3.1, 2.2, 1.5)), file.path(dir, "sample.dat.r"))
  write.host.table(data.frame(object = 1:n, Region.Label = ifelse(smp <= 3, "1. North", "2. South"),
                              Sample.Label = paste0(smp, ".")), file.path(dir, "obs.dat.r"))
}

command.file <- function(dir, binned = FALSE, factor = "sex") {
  p <- function(f) file.path(dir, f)
  ddf.line <- if (binned) {
    "ddf.7<-ddf(method='io',dsmodel=~mcds(key='hr',formula=~sex),mrmodel=~glm(link='logit',formula=~distance),control=list(showit=0),data=ddf.dat.7,meta.data=list(width=50,left=0,binned=T))"
  } else {
    "ddf.7<-ddf(method='io',dsmodel=~cds(key='hn',formula=~1),mrmodel=~glm(link='logit',formula=~distance),control=list(showit=0),data=ddf.dat.7,meta.data=list(width=50,left=0))"
  }
  c("if(sum(.packages(all=T)=='quox')==0) ",
    paste0("  install.packages('", Sys.getenv("QUOX_ARCHIVE"), "', repos=NULL)"),
    "library(quox)",
    paste0("source('", Sys.getenv("QUOX_SUPPORT_FILE"), "')"),
    paste0("file.create('", p("res.r"), "')"),
    paste0("file.create('", p("stat.r"), "')"),
    "",
    paste0("ddf.dat.7<-read.table(file='", p("ddf.dat.r"), "', header=TRUE, sep='\\t', comment.char='')"),
    paste0("check.factor.vars(ddf.dat.7, c('", factor, "'))"),
    paste0("ddf.dat.7$", factor, "<-as.factor(ddf.dat.7$", factor, ")"),
    if (binned) c("res<-create.interval.data(ddf.dat.7$distance, c(0,10,20,50), 50)",
                  "ddf.dat.7<-cbind(ddf.dat.7, data.frame(distbegin=res$distbegin, distend=res$distend))",
                  "ddf.dat.7<-ddf.dat.7[(ddf.dat.7$distend<=50),]",
                  "rm(res)"),
    "print(ddf.dat.7)",
    "",
    ddf.line,
    "",
    "ddf.summary.7<-summary(ddf.7)",
    paste0("sink(file='", p("res.r"), "',append=T)"),
    "cat('\\tDetection Fct/Summary\\t\\n')",
    "ddf.summary.7",
    "sink()",
    if (!binned) "png(filename='qq.7.%02d.png',width=300,height=300,pointsize=12)",
    if (binned) "ddf.gof.7<-ddf.gof(ddf.7, breaks=c(0,10,20,50))" else "ddf.gof.7<-ddf.gof(ddf.7,lwd=2,lty=1,pch=1,cex=1)",
    if (!binned) "dev.off()",
    paste0("sink(file='", p("res.r"), "',append=T)"),
    if (!binned) "cat('\\tDetection Fct/Plot: Qq-plot\\t\\n')",
    "cat('\\tDetection Fct/GOF\\t\\n')",
    "ddf.gof.7",
    "sink()",
    "png(filename='ddf.7.%02d.png',width=300,height=300,pointsize=12)",
    paste0("plot(ddf.7,", if (binned) "breaks=c(0,10,20,50),", "maintitle=' ',lwd=2,lty=1,pch=1,cex=1)"),
    "dev.off()",
    paste0("sink(file='", p("res.r"), "',append=T)"),
    "cat('\\tDetection Fct/Plot: Detection Probability\\t\\n')",
    "sink()",
    paste0("write.stats.ddf('", p("stat.r"), "',F,ddf.7, ddf.summary.7, ddf.gof.7)"),
    "",
    paste0("region.dat.7<-read.table(file='", p("region.dat.r"), "', header=TRUE, sep='\\t', comment.char='')"),
    paste0("sample.dat.7<-read.table(file='", p("sample.dat.r"), "', header=TRUE, sep='\\t', comment.char='')"),
    paste0("obs.dat.7<-read.table(file='", p("obs.dat.r"), "', header=TRUE, sep='\\t', comment.char='')"),
    "print(region.dat.7)",
    "print(sample.dat.7)",
    "print(obs.dat.7)",
    "",
    "dht.7<-dht(ddf.7,region.dat.7,sample.dat.7,obs.dat.7,se=T,options=list(varflag=1,convert.units=0.001))",
    paste0("sink(file='", p("res.r"), "',append=T)"),
    "cat('\\tDensity Estimates and associated quantities\\t\\n')",
    "print(dht.7,cor=T,bysample=T,vcmatrices=T)",
    "sink()",
    "",
    paste0("write.stats.dht('", p("stat.r"), "',T,dht.7)"),
    "",
    "rm(ddf.dat.7,ddf.7,ddf.summary.7)",
    "rm(ddf.gof.7)",
    "rm(region.dat.7,sample.dat.7,obs.dat.7,dht.7)",
    "remove.quox.support.functions()")
}

run.r <- function(dir, lines) {
  writeBin(charToRaw(paste0(paste(lines, collapse = "\r\n"), "\r\n")), file.path(dir, "in.r"))
  old <- setwd(dir)
  on.exit(setwd(old))
  status <- system2(file.path(R.home("bin"), "R"), c("--no-save", "--no-restore", "-f", "in.r"),
                    stdout = "log.r", stderr = "log.r")
  list(status = status, log = paste(readLines("log.r", warn = FALSE), collapse = "\n"))
}

# Runs the command file (arguments as for command.file) in a fresh folder
# holding the survey's data files, and returns the exit status and log with
# what the run left behind: the results and statistics files' lines and the
# plot files.
run.command.file <- function(...) {
  skip_if(!nzchar(Sys.getenv("QUOX_SUPPORT_FILE")) || !file.exists(Sys.getenv("QUOX_SUPPORT_FILE")),
          "support file not given")
  dir <- tempfile("cmd")
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  survey.files(dir)
  r <- run.r(dir, command.file(dir, ...))
  lines <- function(f) if (file.exists(file.path(dir, f))) readLines(file.path(dir, f)) else character(0)
  c(r, list(res = lines("res.r"), stats = lines("stat.r"), plots = list.files(dir, pattern = "png$")))
}

for (binned in c(FALSE, TRUE)) {
  test_that(paste("a complete command file runs cleanly,", if (binned) "binned distances" else "exact distances"), {
    r <- run.command.file(binned)
    expect_equal(r$status, 0L)
    expect_false(grepl("error", r$log, ignore.case = TRUE))
    expect_false(grepl("execution halted", r$log, ignore.case = TRUE))
    expect_false(grepl("warning", r$log, ignore.case = TRUE))
    titles <- grep("^\t.*\t$", r$res, value = TRUE)
    expect_equal(titles, paste0("\t", c("Detection Fct/Summary", if (!binned) "Detection Fct/Plot: Qq-plot",
                                        "Detection Fct/GOF", "Detection Fct/Plot: Detection Probability",
                                        "Density Estimates and associated quantities"), "\t"))
    expect_true(all(grepl("^[0-9]{4}\t", r$stats)))
    expect_true(all(c("0001", "0003", "0006", "1000", "1010", "1020", "2000") %in% substr(r$stats, 1, 4)))
    expect_equal(sort(r$plots), sort(c(if (!binned) "qq.7.01.png", sprintf("ddf.7.%02d.png", 1:6))))
  })
}

test_that("a missing factor column ends the run with an error naming it", {
  r <- run.command.file(factor = "colour")
  expect_false(r$status == 0L)
  expect_match(r$log, "factor column 'colour' named in the model definition is not in the data", fixed = TRUE)
  expect_match(r$log, "Execution halted", fixed = TRUE)
})
