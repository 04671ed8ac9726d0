#include "tests/support/TestHttpServer.h"
#include "tests/support/Started.h"

namespace norvale::test {

TestHttpServer::TestHttpServer(int workerThreads) : m_server(std::make_unique<httplib::Server>())
{
    const auto threads = size_t(qMax(1, workerThreads));
    m_server->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    // One request per connection: a body without Content-Length then ends
    // where the connection does, as HTTP intends (this cpp-httplib otherwise
    // keeps such a connection open), and stop() never waits on idle clients.
    m_server->set_keep_alive_max_count(1);
    m_server->set_pre_routing_handler([this](const httplib::Request &request, httplib::Response &) {
        std::lock_guard lock(m_mutex);
        m_requests.push_back({request.path, request.headers});
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

bool TestHttpServer::start(QString *error, const QString &host)
{
    if (m_thread.joinable())
        return failed(error, QStringLiteral("already started"));

    m_host = host;
    m_port = m_server->bind_to_any_port(host.toStdString());
    if (m_port <= 0)
        return failed(error, QStringLiteral("could not bind a port on ") + host);
    m_thread = std::thread([this] {
        m_server->listen_after_bind();
        m_listenReturned = true;
    });
    return true;
}

void TestHttpServer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stopped.notify_all();
    if (!m_thread.joinable())
        return;
    // cpp-httplib's stop() does nothing before the accept loop runs, and must
    // be called only once; wait for that loop if the thread is just starting.
    while (!m_listenReturned && !m_server->is_running())
        std::this_thread::yield();
    if (!m_listenReturned)
        m_server->stop();
    m_thread.join();
}

std::vector<TestHttpServer::RecordedRequest> TestHttpServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

bool TestHttpServer::holdUntilStopped(std::chrono::milliseconds limit) const
{
    std::unique_lock lock(m_mutex);
    return m_stopped.wait_for(lock, limit, [this] { return m_stopping; });
}

} // namespace norvale::test
