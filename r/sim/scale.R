# How the R side grows with the number of objects: one simulated survey of N
# detected objects (two observers, half-normal distances with sigma 20 m,
# truncated at 50 m, twenty objects per transect, two regions), fitted by
# ddf (method io: ds hn ~1, mr ~distance; or method ds: hn ~1 on observer 1's
# detections), then summary, goodness of fit, a plot to a null device and dht,
# as a run of the host does. Prints the elapsed and CPU time of each step and
# R's peak of allocated memory during it; run it under /usr/bin/time for the process's
# peak resident memory:
#
#   /usr/bin/time -f '%e s %M KB' Rscript r/sim/scale.R io 100000
#   Rscript r/sim/scale.R ds 10000 --installed

args <- commandArgs(trailingOnly = TRUE)
method <- if (length(args) >= 1) args[1] else "io"
N <- if (length(args) >= 2) as.numeric(args[2]) else 1000
if ("--installed" %in% args) {
  suppressPackageStartupMessages(library(quox))
} else {
  file.arg <- grep("^--file=", commandArgs(FALSE), value = TRUE)
  here <- if (length(file.arg)) dirname(normalizePath(sub("^--file=", "", file.arg[1]))) else "r/sim"
  for (f in sort(list.files(file.path(here, "..", "quox", "R"), pattern = "\\.R$", full.names = TRUE))) {
    sys.source(f, envir = globalenv())
  }
}

set.seed(11)
draw <- function(k) {
  x <- abs(rnorm(k, 0, 20))
  p <- 0.9 * exp(-x^2 / (2 * 18^2))
  d1 <- runif(k) < p; d2 <- runif(k) < p
  keep <- d1 | d2
  list(x = round(x[keep], 2), d1 = d1[keep], d2 = d2[keep])
}
s <- draw(3 * N)
while (length(s$x) < N) s <- draw(4 * N)
x <- s$x[1:N]; d1 <- as.numeric(s$d1[1:N]); d2 <- as.numeric(s$d2[1:N])
nt <- max(12, N %/% 20)
smp <- 1 + ((seq_len(N) - 1) * nt) %/% N
reg <- ifelse(smp <= nt %/% 2, "R1", "R2")
data <- data.frame(object = rep(seq_len(N), each = 2), observer = rep(1:2, N),
                   detected = as.vector(rbind(d1, d2)), distance = rep(x, each = 2),
                   size = rep(1 + (seq_len(N) %% 4), each = 2))
if (method == "ds") data <- data[data$observer == 1 & data$detected == 1, c("object", "distance", "size")]
data <- data[data$distance <= 50, ]
eff <- round(2 + 6 * runif(nt), 2)
regions <- data.frame(Region.Label = c("R1", "R2"), Area = round(sum(eff) * 3.3 * c(0.4, 0.6), 1))
samples <- data.frame(Sample.Label = paste0("T", seq_len(nt)), Region.Label = ifelse(seq_len(nt) <= nt %/% 2, "R1", "R2"),
                      Effort = eff)
obs <- data.frame(object = seq_len(N), Region.Label = reg, Sample.Label = paste0("T", smp))

# each step: elapsed and CPU time, and the peak of R's allocated memory
# during the step (gc's "max used" since the reset before it)
step <- function(name, expr) {
  invisible(gc(reset = TRUE))
  t <- system.time(v <- withCallingHandlers(expr, warning = function(w) {
    message("warning: ", conditionMessage(w)); invokeRestart("muffleWarning")
  }))
  mem <- gc()
  cat(sprintf("%-8s %8.2f s elapsed %8.2f s CPU %7.0f MB peak\n", name, t[["elapsed"]],
              t[["user.self"]] + t[["sys.self"]], sum(mem[, ncol(mem)])))
  v
}
t0 <- proc.time()
mr <- if (method == "ds") NULL else ~glm(link = "logit", formula = ~distance)
fit <- step("ddf", ddf(method = method, dsmodel = ~cds(key = "hn", formula = ~1), mrmodel = mr,
                       data = data, meta.data = list(width = 50)))
invisible(step("summary", capture.output(print(summary(fit)))))
invisible(step("gof", capture.output(print(ddf.gof(fit, qq = FALSE)))))
invisible(step("plot", { pdf(NULL); plot(fit); dev.off() }))
invisible(step("dht", capture.output(print(dht(fit, regions, samples, obs,
                                                options = list(varflag = 1, convert.units = 0.001))))))
tt <- proc.time() - t0
cat(sprintf("%s N=%d objects=%d total %.2f s elapsed %.2f s CPU, converged %s\n", method, N, fit$n,
            tt[["elapsed"]], tt[["user.self"]] + tt[["sys.self"]],
            fit$ds$converged && (is.null(fit$mr) || fit$mr$converged)))
